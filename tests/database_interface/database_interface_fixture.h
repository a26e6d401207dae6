// A real project with the real host services (and the engine tests' hooks)
// on the test's thread, a fresh global log, and database interfaces made for
// its item 12 the way the engine makes them.
#pragma once

#include <memory>
#include <string>

#include "database_interface/c_cls_database_interface.h"
#include "engine/engine_fixture.h"

namespace pramble::testing {

class DatabaseInterfaceFixture : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    NewLog();
  }

  void NewLog() { gLog = tp_->services().NewLog(); }

  std::shared_ptr<host::BrowserItem> BrowserItem(std::int32_t id = kItem) {
    host::BrowserList& browsers = tp_->project()->Browsers();
    return browsers.Item(browsers.IndexOfItem(id)).Items().Item(id);
  }

  // A database interface as RunItem configures it.
  std::unique_ptr<CClsDatabaseInterface> NewInterface(bool debug = false,
                                                      std::int32_t id = kItem) {
    auto dbi = std::make_unique<CClsDatabaseInterface>();
    dbi->ProjectDatabase(tp_->project());
    dbi->BrowserItem(BrowserItem(id));
    dbi->DebugMode(debug);
    return dbi;
  }

  // A database interface whose MakeFiles has run (and must have succeeded).
  std::unique_ptr<CClsDatabaseInterface> Prepared(bool debug = false) {
    auto dbi = NewInterface(debug);
    EXPECT_TRUE(dbi->MakeFiles()) << gLog->Contents();
    return dbi;
  }

  std::string Contents() const { return gLog ? gLog->Contents() : std::string(); }
};

}  // namespace pramble::testing
