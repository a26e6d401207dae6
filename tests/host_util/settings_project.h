// A project that has nothing but a settings store, for the host utilities
// that read settings and nothing else of the project (the real project lives
// in a library these tests do not link). Every other member fails with 91.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "pramble/host/errors.h"
#include "pramble/host/project_database.h"

namespace pramble::testing {

class MapSettings : public host::SettingsStore {
 public:
  host::Value GetSetting(std::int32_t, std::int32_t, const std::string& section,
                         const std::string& key, const host::Value& default_value) override {
    if (fail_) throw host::HostError(3051, "the settings store cannot be read");
    auto it = values_.find({section, key});
    return it == values_.end() ? default_value : it->second;
  }
  void SaveSetting(std::int32_t, std::int32_t, const std::string& section, const std::string& key,
                   const host::Value& value) override {
    values_[{section, key}] = value;
  }
  void set_fail(bool fail) { fail_ = fail; }

 private:
  std::map<std::pair<std::string, std::string>, host::Value> values_;
  bool fail_ = false;
};

class SettingsProject : public host::ProjectDatabase {
 public:
  host::SettingsStore& Settings() override { return settings_; }
  host::BrowserList& Browsers() override { Fail(); }
  host::dao::Database& Database() override { Fail(); }
  host::dao::Database& DataDatabase() override { Fail(); }
  host::LayerCollection& Layers() override { Fail(); }
  std::string GetProjectFolder(std::int32_t) override { Fail(); }
  void NotifyItemChanged() override { Fail(); }

  MapSettings& settings() { return settings_; }

 private:
  [[noreturn]] static void Fail() {
    throw host::HostError(host::kErrObjectNotSet, "not part of a settings-only project");
  }
  MapSettings settings_;
};

}  // namespace pramble::testing
