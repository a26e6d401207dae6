// The density-estimation pieces of the R command file: reading the region,
// sample and observation tables, the dht(...) statement with its section in
// the results file, and the statistics record.
#include <string>

#include "command_file/c_cls_input_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/services.h"

namespace pramble {

using host::EqualsNoCase;

bool CClsInputFileMaker::Impl::AppendGetDhtDataString(host::clsStringBuilder& sb) {
  try {
    const bool blnEchoData = GetBoolSetting("AnalysisDetails", "EchoData", host::Value(false));
    const std::string strNames[] = {GetRegionDataName(mlngID), GetSampleDataName(mlngID),
                                    GetObsDataName(mlngID)};
    const std::string* strFiles[] = {&mstrRegionDataFile, &mstrSampleDataFile, &mstrObsDataFile};

    // \t is the R escape: the tables are tab-delimited with a header row.
    for (int i = 0; i < 3; ++i) {
      sb.Append(strNames[i] + "<-read.table(file='" + RPath(*strFiles[i]) +
                    "', header=TRUE, sep='\\t', comment.char='')",
                true);
    }
    if (blnEchoData) {
      for (const std::string& strName : strNames) sb.Append("print(" + strName + ")", true);
    }
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendGetDhtDataString");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendRunDhtString(host::clsStringBuilder& sb) {
  try {
    // Nothing reaches sb until the statements are complete.
    host::clsStringBuilder L;
    host::DefinitionReader& reader = host::CurrentServices().Reader();

    const host::Command detection = reader.GetCommand(mstrModelDefinitionDefinition, "Detection");
    if (!detection.found) {
      LogAdd("Could not find 'Detection' command in Model definition.", 2);
      return false;
    }
    // "T" uses the detection function fitted in this file; a number names the
    // analysis whose fitted detection function is already in R's workspace.
    std::int32_t lngDetectionModelID = 0;
    if (EqualsNoCase(detection.value, "T")) {
      lngDetectionModelID = mlngID;
    } else if (host::IsNumeric(detection.value)) {
      // A value beyond the 32-bit range fails here (overflow) and is logged below.
      lngDetectionModelID = host::ToLong(host::Value(host::ParseNumber(detection.value)));
    } else {
      LogAdd("Invalid 'Detection' command value '" + detection.value + "' in the Model definition.",
             2);
      return false;
    }

    const host::Command density = reader.GetCommand(mstrModelDefinitionDefinition, "Density");
    if (!density.found) {
      LogAdd("Could not find 'Density' command in Model definition.", 2);
      return false;
    }
    const std::string strVarFlag = density.LastOption("VarFlag").value_or("");
    const std::string strPrintOptions = density.LastOption("PrintOptions").value_or("0");

    if (!reader.GetCommand(mstrSurveyDefinition, "Object").found) {
      LogAdd("Could not find 'Object' command in Survey definition.", 2);
      return false;
    }

    // The host utility reports why it cannot convert the units.
    std::string strConvertUnits;
    if (!host::CurrentServices().Engine().GetConvertUnits(
            strConvertUnits, mstrDistanceMeasureUnits, mstrEffortMeasureUnits, mstrAreaMeasureUnits,
            Project(), RunLog())) {
      return false;
    }

    const std::string H = GetDhtName(mlngID);
    L.Append(H + "<-dht(" + GetDdfName(lngDetectionModelID) + "," + GetRegionDataName(mlngID) +
                 "," + GetSampleDataName(mlngID) + "," + GetObsDataName(mlngID) +
                 ",se=T,options=list(varflag=" + strVarFlag + ",convert.units=" + strConvertUnits +
                 "))",
             true);
    L.Append(SinkResultsLine(), true);
    L.Append("cat('\\tDensity Estimates and associated quantities\\t\\n')", true);
    L.Append("print(" + H, false);
    if (strPrintOptions == "1") L.Append(",cor=T,bysample=T,vcmatrices=T", false);
    L.Append(")", true);
    L.Append("sink()", true);

    sb.Append(L.Text(), false);
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendRunDhtString");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendOutputDhtStatsString(host::clsStringBuilder& sb) {
  try {
    sb.Append("write.stats.dht('" + RPath(mstrStatsFile) + "',T," + GetDhtName(mlngID) + ")", true);
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendOutputDhtStatsString");
    return false;
  }
}

}  // namespace pramble
