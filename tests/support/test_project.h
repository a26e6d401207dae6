// Test support: a real project in a fresh temporary folder, created from a
// project description by the host's own `create` code, opened, and with the
// host's default services installed on the calling thread for the lifetime
// of the object. The folder is removed when the object goes.
//
//   auto tp = pramble::testing::TestProject::FromExample();
//   pramble::QuoxNEngineInterface engine;
//   engine.ProjectDatabase(tp->project());
//   engine.RunItem(1);
//   tp->loop().RunUntil([&] { return finished; }, std::chrono::seconds(60));
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "support/scratch.h"

namespace pramble::host {
class ScopedServices;
}  // namespace pramble::host

namespace pramble::sqlhost {
class Project;
class EventLoop;
class DefaultServices;
}  // namespace pramble::sqlhost

namespace pramble::testing {

class TestProject {
 public:
  // `description` as in the project description format; CSV paths resolve
  // against `base_dir`.
  static std::unique_ptr<TestProject> FromJson(const nlohmann::json& description,
                                               const std::string& base_dir = "");
  // The example double-observer project (tests/data/examples/double-observer).
  static std::unique_ptr<TestProject> FromExample();
  ~TestProject();

  std::shared_ptr<sqlhost::Project> project() const { return project_; }
  sqlhost::EventLoop& loop() { return *loop_; }
  sqlhost::DefaultServices& services() { return *services_; }
  const std::string& dir() const { return dir_; }

 private:
  TestProject() = default;
  // In the order they are made; they go in the reverse order.
  std::unique_ptr<TempDir> temp_;
  std::string dir_;
  std::unique_ptr<sqlhost::EventLoop> loop_;
  std::unique_ptr<sqlhost::DefaultServices> services_;
  std::shared_ptr<sqlhost::Project> project_;
  std::unique_ptr<host::ScopedServices> installed_;
};

// The example description with every CSV layer's rows inlined ("csv" replaced
// by "rows"), so that a test can change it freely.
nlohmann::json ExampleDescription();

}  // namespace pramble::testing
