// The detection-function output pieces of the R command file: the summary
// section, the goodness-of-fit test with its quantile-quantile plot, the
// detection-probability plot and the statistics record. The results-file
// sections and plot file names are those that the results import reads back.
#include <string>

#include "command_file/c_cls_input_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/services.h"

namespace pramble {

namespace {

// Section titles: \t and \n are R escapes, so R writes a tab, the title, a
// tab and a line end into the results file.
constexpr char kSummaryTitleLine[] = "cat('\\tDetection Fct/Summary\\t\\n')";
constexpr char kQqPlotTitleLine[] = "cat('\\tDetection Fct/Plot: Qq-plot\\t\\n')";
constexpr char kGofTitleLine[] = "cat('\\tDetection Fct/GOF\\t\\n')";
constexpr char kDetectionPlotTitleLine[] =
    "cat('\\tDetection Fct/Plot: Detection Probability\\t\\n')";

// The plot parameters shared by the ddf.gof and plot statements.
std::string PlotParameters(const host::PlotSettings& plot) {
  return ",lwd=" + plot.lwd + ",lty=" + plot.lty + ",pch=" + plot.pch + ",cex=" + plot.cex + ")";
}

}  // namespace

host::PlotSettings CClsInputFileMaker::Impl::AppendOpenDeviceString(host::clsStringBuilder& sb,
                                                                    const std::string& strKind) {
  host::PlotSettings plot;
  (void)host::CurrentServices().Engine().GetPlotSettings(plot, Project(), RunLog());

  // "wmf" opens the Windows metafile device; any other format names the R
  // device function itself (png, jpeg, pdf, ...).
  sb.Append(host::EqualsNoCase(plot.format, "wmf") ? "win.metafile" : plot.format, false);
  // R numbers the pages of the device: qq.7.01.wmf, qq.7.02.wmf, ...
  sb.Append("(filename='" + strKind + "." + std::to_string(mlngID) + ".%02d." + plot.format +
                "',width=" + plot.width + ",height=" + plot.height +
                ",pointsize=" + plot.point_size,
            false);
  if (host::EqualsNoCase(plot.format, "jpeg")) sb.Append(",quality=" + plot.quality, false);
  sb.Append(")", true);
  return plot;
}

bool CClsInputFileMaker::Impl::AppendOutputResultsString(host::clsStringBuilder& sb,
                                                         bool blnGofRequested,
                                                         const std::string& strIntervals) {
  try {
    const bool blnNoIntervals = strIntervals.empty();
    const std::string M = GetDdfName(mlngID);
    const std::string S = GetDdfSummaryName(mlngID);
    const std::string G = GetDdfGofName(mlngID);

    sb.Append(S + "<-summary(" + M + ")", true);
    sb.Append(SinkResultsLine(), true);
    sb.Append(kSummaryTitleLine, true);
    sb.Append(S, true);  // a top-level expression: R prints it into the sink
    sb.Append("sink()", true);

    if (blnGofRequested) {
      if (blnNoIntervals) {
        const host::PlotSettings plot = AppendOpenDeviceString(sb, "qq");
        sb.Append(G + "<-ddf.gof(" + M + PlotParameters(plot), true);
        sb.Append("dev.off()", true);
      } else {
        // Binned data have no quantile-quantile plot.
        sb.Append(G + "<-ddf.gof(" + M + ", breaks=c(" + strIntervals + "))", true);
      }
      sb.Append(SinkResultsLine(), true);
      if (blnNoIntervals) sb.Append(kQqPlotTitleLine, true);
      sb.Append(kGofTitleLine, true);
      sb.Append(G, true);
      sb.Append("sink()", true);
    }
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendOutputResultsString");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendOutputPlotString(host::clsStringBuilder& sb,
                                                      const std::string& strIntervals) {
  try {
    const host::PlotSettings plot = AppendOpenDeviceString(sb, "ddf");
    sb.Append("plot(" + GetDdfName(mlngID) + ",", false);
    if (!strIntervals.empty()) sb.Append("breaks=c(" + strIntervals + "),", false);
    // The plot's title is a single blank.
    sb.Append(std::string("maintitle=' '") + PlotParameters(plot), true);
    sb.Append("dev.off()", true);
    sb.Append(SinkResultsLine(), true);
    sb.Append(kDetectionPlotTitleLine, true);
    sb.Append("sink()", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendOutputPlotString");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendOutputDdfStatsString(host::clsStringBuilder& sb,
                                                          const bool& blnGofRequested) {
  try {
    sb.Append("write.stats.ddf('" + RPath(mstrStatsFile) + "',F," + GetDdfName(mlngID) + ", " +
                  GetDdfSummaryName(mlngID),
              false);
    if (blnGofRequested) sb.Append(", " + GetDdfGofName(mlngID), false);
    sb.Append(")", true);
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendOutputDdfStatsString");
    return false;
  }
}

}  // namespace pramble
