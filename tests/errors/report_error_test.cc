// The component's error routine: number, source and description of the
// raised error, the placeholder rule, the unexpected-error text and the rule
// that keeps the innermost component error as it passes up.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "pramble/component_error.h"
#include "support/faults.h"

namespace pramble {
namespace {

ComponentError Catch(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComponentError& e) {
    return e;
  }
  ADD_FAILURE() << "no ComponentError raised";
  return ComponentError(0, "", "");
}

// The resource text with its placeholder filled in; a number without a
// resource gets the fallback text, with no placeholder to fill. (The engine's
// tests check 7950 and 7951.)
TEST(ReportError, BuildsNumberSourceAndDescription) {
  ComponentError e = Catch([] { ReportError(7972, "DatabaseInterface.MakeFiles", "x"); });
  EXPECT_EQ(e.number(), -2147213532);
  EXPECT_EQ(e.source(), "Pramble.DatabaseInterface.MakeFiles");
  EXPECT_EQ(e.description(),
            "Encountered problems trying to retrieve the model definition's definition for this "
            "analysis.");
  e = Catch([] { ReportError(1234, "DataFileMaker.MakeFiles", "p"); });
  EXPECT_EQ(e.number(), -2147220270);
  EXPECT_EQ(e.source(), "Pramble.DataFileMaker.MakeFiles");
  EXPECT_EQ(e.description(), "[No description as error number not in resource file.]");
}

TEST(ReportError, UnexpectedErrorNamesTheCurrentError) {
  ComponentError e = Catch([] {
    try {
      throw host::HostError(91, "Object variable or With block variable not set");
    } catch (...) {
      ReportError(kErrUnexpected, "DatabaseInterface.DeletePlotFiles");
    }
  });
  EXPECT_EQ(e.number(), -2147211505);
  EXPECT_EQ(e.source(), "Pramble.DatabaseInterface.DeletePlotFiles");
  EXPECT_EQ(e.description(),
            "Unexpected error in Corvane Quox NEngine Interface.\r\n"
            "Source: Pramble.DatabaseInterface.DeletePlotFiles\r\n"
            "Internal Error number: 91.\r\n"
            "Internal Error description: \"Object variable or With block variable not set\".");
}

TEST(ReportError, UnexpectedErrorWithoutCurrentErrorReportsZero) {
  ComponentError e = Catch([] { ReportError(kErrUnexpected, "X.Y"); });
  EXPECT_NE(e.description().find("Internal Error number: 0.\r\n"), std::string::npos);
  EXPECT_NE(e.description().find("Internal Error description: \"\"."), std::string::npos);
}

TEST(ReportError, InnermostComponentErrorPassesUpUnchanged) {
  ComponentError e = Catch([] {
    try {
      try {
        ReportError(7951, "QuoxNEngineInterface.GetBrowserItem", "99");
      } catch (...) {
        ReportError(kErrUnexpected, "DatabaseInterface.CheckPassesEngineRestrictions");
      }
    } catch (...) {
      ReportError(kErrUnexpected, "QuoxNEngineInterface.ResetItem");
    }
  });
  EXPECT_EQ(e.number(), -2147213553);
  EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.GetBrowserItem");
  EXPECT_EQ(e.description(), "Cannot find item '99'.");
}

TEST(ReportError, ComponentErrorOutsideTheRangeIsWrapped) {
  // Only numbers strictly inside the interface-defined range count as raised
  // by a deeper ReportError.
  ComponentError e = Catch([] {
    try {
      throw ComponentError(-2147221504, "Pramble.A.B", "edge");
    } catch (...) {
      ReportError(kErrUnexpected, "C.D");
    }
  });
  EXPECT_EQ(e.source(), "Pramble.C.D");
  EXPECT_NE(e.description().find("Internal Error number: -2147221504."), std::string::npos);
}

TEST(LogErrorSource, AddsTheSourceAtLevelThree) {
  auto log = std::make_shared<testing::RecordingLog>();
  gLog = log;
  LogErrorSource("DataFileMaker.MakeObsQuery");
  gLog.reset();
  LogErrorSource("ignored when there is no log");
  EXPECT_EQ(log->entries, (std::vector<std::pair<std::string, int>>{
                              {"DataFileMaker.MakeObsQuery", 3}}));
}

}  // namespace
}  // namespace pramble
