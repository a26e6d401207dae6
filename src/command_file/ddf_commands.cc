// The detection-function pieces of the R command file: reading the data file,
// marking factor covariates, binning distances into intervals, and the one
// ddf(...) statement built from the model and data filter definitions.
#include <string>
#include <vector>

#include "command_file/c_cls_input_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "pramble/host/services.h"

namespace pramble {

namespace {

using host::EqualsNoCase;

// The private statement of AppendRunDdfString. Each command writes entries
// that end in a separator; before a command closes its bracket the separator
// of its last entry is dropped, so that the entries are separated by commas
// with none after the last.
class StatementBuilder {
 public:
  // Starts the entries of a new command.
  void BeginCommand() { last_separator_ = 0; }
  // Appends text that is not an entry of its own (a model's opening, a bracket).
  void Append(const std::string& text) {
    text_.Append(text, false);
    last_separator_ = 0;
  }
  // Appends an entry whose last `separator_length` characters separate it
  // from the next one.
  void AppendEntry(const std::string& text, std::size_t separator_length) {
    text_.Append(text, false);
    last_separator_ = separator_length;
  }
  void DropTrailingSeparator() {
    if (last_separator_ > 0) text_.Remove(text_.Length() - last_separator_, last_separator_);
    last_separator_ = 0;
  }
  const std::string& Text() const { return text_.Text(); }

 private:
  host::clsStringBuilder text_;
  std::size_t last_separator_ = 0;
};

}  // namespace

bool CClsInputFileMaker::Impl::GetFactors(std::vector<std::string>& strFactors,
                                          std::int32_t& lngFactorCount) {
  try {
    host::DefinitionReader& reader = host::CurrentServices().Reader();
    const host::Command cmd = reader.GetCommand(mstrModelDefinitionDefinition, "Factors");
    if (!cmd.found) {
      strFactors.clear();
      lngFactorCount = 0;
      return true;
    }
    strFactors = reader.SplitList(cmd.value, ",");
    lngFactorCount = static_cast<std::int32_t>(strFactors.size());
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.GetFactors");
    return false;
  }
}

bool CClsInputFileMaker::Impl::GetCutpoints(std::string& strIntervals, std::string& strWidth) {
  try {
    strIntervals.clear();
    strWidth.clear();
    const host::Command cmd =
        host::CurrentServices().Reader().GetCommand(mstrDataFilterDefinition, "Distance");
    if (!cmd.found) {
      LogAdd("Cannot find the Distance command in the Data Filter Definition.", 2);
      return false;
    }
    strWidth = cmd.LastOption("Width").value_or("");
    strIntervals = cmd.LastOption("Intervals").value_or("");
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.GetCutpoints");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendGetDdfDataString(host::clsStringBuilder& sb) {
  try {
    const std::string D = GetDdfDataName(mlngID);

    std::vector<std::string> strFactors;
    std::int32_t lngFactorCount = 0;
    if (!GetFactors(strFactors, lngFactorCount)) return false;
    std::string strIntervals;
    std::string strWidth;
    if (!GetCutpoints(strIntervals, strWidth)) return false;

    const bool blnEchoData = GetBoolSetting("AnalysisDetails", "EchoData", host::Value(false));

    // \t is the R escape: the data file is tab-delimited with a header row.
    sb.Append(D + "<-read.table(file='" + RPath(mstrDdfDataFile) +
                  "', header=TRUE, sep='\\t', comment.char='')",
              true);

    if (lngFactorCount > 0) {
      sb.Append("check.factor.vars(" + D + ", c('", false);
      for (std::int32_t i = 0; i + 1 < lngFactorCount; ++i)
        sb.Append(strFactors[i] + "', '", false);
      sb.Append(strFactors[lngFactorCount - 1] + "'))", true);
      for (const std::string& F : strFactors)
        sb.Append(D + "$" + F + "<-as.factor(" + D + "$" + F + ")", true);
    }

    if (!strIntervals.empty()) {
      // The cutpoint list goes into c(...) as it stands; only rows whose
      // interval ends at or below the truncation width are kept.
      sb.Append("res<-create.interval.data(" + D + "$distance, c(" + strIntervals + "), " +
                    strWidth + ")",
                true);
      sb.Append(D + "<-cbind(" + D + ", data.frame(distbegin=res$distbegin, distend=res$distend))",
                true);
      sb.Append(D + "<-" + D + "[(" + D + "$distend<=" + strWidth + "),]", true);
      sb.Append("rm(res)", true);
    }

    if (blnEchoData) sb.Append("print(" + D + ")", true);
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendGetDdfDataString");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendRunDdfString(host::clsStringBuilder& sb,
                                                  bool& blnPlotRequested, bool& blnGofRequested,
                                                  std::string& strIntervals) {
  try {
    blnPlotRequested = false;
    blnGofRequested = false;
    strIntervals.clear();

    // Nothing reaches sb until the statement is complete.
    StatementBuilder L;
    L.Append(GetDdfName(mlngID) + "<-ddf(");

    // The arguments stand in the order of the commands in the model definition.
    host::DefinitionReader& reader = host::CurrentServices().Reader();
    std::string strRemaining = mstrModelDefinitionDefinition;
    while (!strRemaining.empty()) {
      const std::size_t lngBefore = strRemaining.size();
      const host::Command cmd = reader.GetNextCommand(strRemaining);
      if (strRemaining.size() >= lngBefore) {
        throw host::HostError(5,
                              "The definition reader did not advance past '" + strRemaining + "'.");
      }
      const std::string& name = cmd.name;
      L.BeginCommand();
      if (EqualsNoCase(name, "Method")) {
        L.AppendEntry("method='" + cmd.value + "',", 1);
      } else if (EqualsNoCase(name, "DSModel")) {
        for (int i = 0; i < cmd.OptionCount(); ++i) {
          const std::string& option = cmd.option_names[i];
          const std::string& value = cmd.option_values[i];
          if (EqualsNoCase(option, "Method")) {
            L.Append("dsmodel=~" + value + "(");
          } else if (EqualsNoCase(option, "Key")) {
            L.AppendEntry("key='" + value + "',", 1);
          } else if (EqualsNoCase(option, "Formula")) {
            L.AppendEntry("formula=~" + value + ",", 1);
          }
        }
        L.DropTrailingSeparator();
        L.Append("),");
      } else if (EqualsNoCase(name, "MRModel")) {
        // The Formula entry closes the model.
        for (int i = 0; i < cmd.OptionCount(); ++i) {
          const std::string& option = cmd.option_names[i];
          const std::string& value = cmd.option_values[i];
          if (EqualsNoCase(option, "Method")) {
            L.Append("mrmodel=~" + value + "(");
          } else if (EqualsNoCase(option, "Link")) {
            L.Append("link='" + value + "',");
          } else if (EqualsNoCase(option, "Formula")) {
            L.Append("formula=~" + value + "),");
          }
        }
      } else if (EqualsNoCase(name, "Control")) {
        L.Append("control=list(");
        if (!cmd.value.empty()) {
          L.Append(cmd.value);
        } else {
          for (int i = 0; i < cmd.OptionCount(); ++i) {
            if (EqualsNoCase(cmd.option_names[i], "Showit"))
              L.AppendEntry("showit=" + cmd.option_values[i] + ",", 1);
          }
          L.DropTrailingSeparator();
        }
        L.Append("),");
      } else if (EqualsNoCase(name, "Diagnostics")) {
        // A later Diagnostics command overrides only the options it gives.
        if (const auto plot = cmd.LastOption("Plot")) blnPlotRequested = EqualsNoCase(*plot, "T");
        if (const auto gof = cmd.LastOption("GOF")) blnGofRequested = EqualsNoCase(*gof, "T");
      }
    }

    L.Append("data=" + GetDdfDataName(mlngID) + ",");
    L.Append("meta.data=list(");

    const host::Command distance = reader.GetCommand(mstrDataFilterDefinition, "Distance");
    if (!distance.found) {
      LogAdd("Couldn't find the 'Distance' command in the data filter definition.", 2);
      return false;
    }
    L.BeginCommand();
    for (int i = 0; i < distance.OptionCount(); ++i) {
      const std::string& option = distance.option_names[i];
      const std::string& value = distance.option_values[i];
      if (EqualsNoCase(option, "Rtruncate")) {
        LogAdd(std::string("Data filter specifies right truncation as a percentage of the "
                           "distances. ") +
                   "This option is not allowed in the current version of the Quox engine - you "
                   "must truncate at a specified distance.",
               2);
        return false;
      } else if (EqualsNoCase(option, "Width")) {
        L.AppendEntry("width=" + value + ",", 1);
      } else if (EqualsNoCase(option, "Left")) {
        L.AppendEntry("left=" + value + ",", 1);
      } else if (EqualsNoCase(option, "Intervals")) {
        L.AppendEntry("binned=T, ", 2);
        strIntervals = value;
      } else if (EqualsNoCase(option, "NClass")) {
        LogAdd("This version of the Quox engine cannot deal with automatic equal intervals.", 2);
        return false;
      }
    }
    L.DropTrailingSeparator();
    L.Append(")");  // meta.data=list(
    L.Append(")");  // ddf(

    sb.Append(L.Text(), true);
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendRunDdfString");
    return false;
  }
}

}  // namespace pramble
