// CClsDatabaseInterface: the analyses this engine refuses before any file is
// made. Restrictions on the survey itself (line transects, perpendicular
// distances) and post-stratification are refused later by the data file maker.
#include <string>
#include <vector>

#include "database_interface/c_cls_database_interface.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"

namespace pramble {
namespace {

constexpr char kSinglePlatformMethod[] = "ds";

void Refuse(const std::string& message) { LogAdd(message, 2); }

}  // namespace

// blnRunDht plays no part in any rule: a density-only run passes unless the
// data filter asks for automatic intervals.
bool CClsDatabaseInterface::CheckPassesEngineRestrictions(bool blnRunDdf, bool /*blnRunDht*/,
                                                          bool& blnIsSinglePlatform) {
  try {
    host::DefinitionReader& reader = host::CurrentServices().Reader();

    // A single-observer survey can only be fitted with the single-observer method.
    if (blnRunDdf && blnIsSinglePlatform) {
      const host::Command method = reader.GetCommand(mstrModelDefinitionDefinition, "Method");
      if (!method.found) {
        Refuse("Could not find 'Method' method in the model definition.");
        return false;
      }
      if (!host::EqualsNoCase(method.value, kSinglePlatformMethod)) {
        Refuse(
            "The survey configuration is single platform, but the Quox model definition "
            "detection function method is one of the double platform methods.  The only method "
            "that is allowed for single platform configurations is 'ds - single observer'.  "
            "Please check your model definition.");
        return false;
      }
    }

    // Automatic equal intervals are not supported; a later option of the same
    // name overrides an earlier one.
    const host::Command distance = reader.GetCommand(mstrDataFilterDefinition, "Distance");
    if (distance.LastOption("NClass")) {
      Refuse(
          "This version of the Quox engine does not automatic equal intervals - please use "
          "the data filter to manually specify the interval cutpoints.");
      return false;
    }
    const std::string strLeft = distance.LastOption("Left").value_or("");
    const std::string strIntervals = distance.LastOption("Intervals").value_or("");

    if (!blnRunDdf) return true;

    // Left truncation is supported for the double-observer methods only when
    // it merely repeats the first cutpoint (compared as text).
    if (strLeft.empty()) return true;
    const host::Command method = reader.GetCommand(mstrModelDefinitionDefinition, "Method");
    if (!method.found) {
      Refuse("Could not find the Method command in the model definition.");
      return false;
    }
    if (host::EqualsNoCase(method.value, kSinglePlatformMethod)) return true;
    if (!strIntervals.empty()) {
      const std::vector<std::string> cutpoints = reader.SplitList(strIntervals, ",");
      if (!cutpoints.empty() && host::EqualsNoCase(cutpoints.front(), strLeft)) return true;
    }
    Refuse(
        "This version of the Quox engine only supports left trunction of distance data when the "
        "detection function fitting method is ds (i.e. single observer).  We expect to add "
        "support for the other methods in a future version.");
    return false;
  } catch (...) {
    ReportError(kErrUnexpected, "DatabaseInterface.CheckPassesEngineRestrictions");
  }
}

}  // namespace pramble
