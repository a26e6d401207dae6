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
#include "pramble/host/log.h"
#include "pramble/component_error.h"

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

struct ResourceCase {
  std::int32_t number;
  std::string source;
  std::string parameter;
  std::int32_t raised_number;
  std::string full_source;
  std::string description;
};

class ReportErrorResources : public ::testing::TestWithParam<ResourceCase> {};

TEST_P(ReportErrorResources, BuildsNumberSourceAndDescription) {
  const auto& c = GetParam();
  ComponentError e = Catch([&] { ReportError(c.number, c.source, c.parameter); });
  EXPECT_EQ(e.number(), c.raised_number);
  EXPECT_EQ(e.source(), c.full_source);
  EXPECT_EQ(e.description(), c.description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportErrorResources,
    ::testing::Values(
        ResourceCase{7950, "QuoxNEngineInterface.RunItem", "", -2147213554,
                     "Pramble.QuoxNEngineInterface.RunItem",
                     "Cannot use method as ProjectDatabase property is not set."},
        ResourceCase{7951, "QuoxNEngineInterface.GetBrowserItem", "12", -2147213553,
                     "Pramble.QuoxNEngineInterface.GetBrowserItem", "Cannot find item '12'."},
        ResourceCase{7972, "DatabaseInterface.MakeFiles", "x", -2147213532,
                     "Pramble.DatabaseInterface.MakeFiles",
                     "Encountered problems trying to retrieve the model definition's definition "
                     "for this analysis."},
        // A number without a resource gets the fallback text, with no placeholder to fill.
        ResourceCase{1234, "DataFileMaker.MakeFiles", "p", -2147220270,
                     "Pramble.DataFileMaker.MakeFiles",
                     "[No description as error number not in resource file.]"}));

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

TEST(GetResString, KnownAndUnknownIds) {
  EXPECT_EQ(GetResString(7951), "Cannot find item <ID>.");
  EXPECT_EQ(GetResString(42), "[No description as error number not in resource file.]");
}

class RecordingLog : public host::Log {
 public:
  void Add(const std::string& m, std::int32_t level) override { entries.push_back({m, level}); }
  std::string Contents() const override { return ""; }
  void SetTimeStamp(bool) override {}
  std::int32_t Severity() const override { return 0; }
  std::vector<std::pair<std::string, std::int32_t>> entries;
};

TEST(LogErrorSource, AddsTheSourceAtLevelThree) {
  auto log = std::make_shared<RecordingLog>();
  gLog = log;
  LogErrorSource("DataFileMaker.MakeObsQuery");
  gLog.reset();
  LogErrorSource("ignored when there is no log");
  ASSERT_EQ(log->entries.size(), 1u);
  EXPECT_EQ(log->entries[0].first, "DataFileMaker.MakeObsQuery");
  EXPECT_EQ(log->entries[0].second, 3);
}

}  // namespace
}  // namespace pramble
