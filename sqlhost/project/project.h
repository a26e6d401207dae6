// An open project of the host: a folder made by `pramble create` that holds
// the project database and the data database (schema.h). Project is the
// ProjectDatabase that the host hands to the engine object, and it answers
// the host's own questions (the items of `pramble status`, an item's stored
// statistics, one setting).
//
// Every change (settings, an item's status, run date and statistics) is
// written at once in its own transaction, so other processes that have the
// project open see it. The databases run in WAL mode with a busy timeout, so
// that runs of different items of one project may go on at the same time.
//
//   auto project = pramble::sqlhost::Project::Open("surveys/seabirds");
//   for (const auto& item : project->ListItems()) ...
//
// Failures of ProjectDatabase operations throw host::HostError; Open throws
// ProjectError. Thread-safety: one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/dao/sqlite_database.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/project_error.h"
#include "sqlhost/util/file_lock.h"
#include "pramble/host/project_database.h"

namespace pramble::sqlhost {

// An analysis item as the project stores it.
struct ItemInfo {
  std::int32_t id = 0;
  std::string name;
  std::int32_t status = 0;
  host::Date run_date;
  std::int32_t survey_id = 0;
  std::int32_t data_filter_id = 0;
  std::int32_t model_definition_id = 0;
};

struct ItemStat {
  std::int32_t code = 0;
  float value = 0;
};

// The exclusive lock of one analysis item (ItemLockFile in file_names.h),
// which whoever runs or resets the item holds, so that one item is never
// worked on by two processes at once; items of one project may be worked on
// at the same time. The file holds the process ID of the last holder, for
// the answer to the next one. The lock ends with the object or the process;
// R, which inherits the descriptor, holds it until it ends too.
class ItemLock {
 public:
  enum class Refusal {
    kNone,        // the lock is held
    kBusy,        // another process holds it (holder() says which, when known)
    kCannotOpen,  // the lock file cannot be made or opened (reason() says why)
    kSystem,      // the system refused the lock (reason() says why)
  };

  bool held() const { return refusal_ == Refusal::kNone; }
  Refusal refusal() const { return refusal_; }
  // The lock file.
  const std::string& path() const { return path_; }
  // The system's words for kCannotOpen and kSystem.
  const std::string& reason() const { return reason_; }
  // The process ID of the holder, for kBusy; "" when unknown.
  const std::string& holder() const { return holder_; }

 private:
  friend class Project;
  Refusal refusal_ = Refusal::kNone;
  std::string path_, reason_, holder_;
  FileLock file_;
};

class Project : public host::ProjectDatabase, public std::enable_shared_from_this<Project> {
 public:
  // Opens the project in folder `dir`. Throws ProjectError: kMissing when the
  // folder does not exist, kUnreadable when it is no project or its databases
  // cannot be opened or read (the message names the file and SQLite's reason).
  static std::shared_ptr<Project> Open(const std::string& dir);
  ~Project() override;

  // host::ProjectDatabase
  host::SettingsStore& Settings() override;
  host::BrowserList& Browsers() override;
  host::dao::Database& Database() override { return *project_db_; }
  host::dao::Database& DataDatabase() override { return *data_db_; }
  host::LayerCollection& Layers() override { return *layers_; }
  // The absolute project folder, for any `which`.
  std::string GetProjectFolder(std::int32_t which) override { return folder_; }
  void NotifyItemChanged() override;

  // The absolute project folder, without a trailing separator.
  const std::string& folder() const { return folder_; }
  const ProjectLayers& layers() const { return *layers_; }
  SqliteDatabase& project_database() { return *project_db_; }
  SqliteDatabase& data_database() { return *data_db_; }

  // Every analysis item, by ID.
  std::vector<ItemInfo> ListItems();
  // The item `id`; nullopt when the project has none.
  std::optional<ItemInfo> FindItem(std::int32_t id);
  // The item's statistics in the order they were stored.
  std::vector<ItemStat> ItemStats(std::int32_t id);

  // A setting of the settings store (scope 1); nullopt when none is stored.
  // Section and key compare without regard to case.
  std::optional<host::Value> GetSettingValue(const std::string& section, const std::string& key);
  // Stores a setting with the value's type (Null removes it).
  void SetSettingValue(const std::string& section, const std::string& key,
                       const host::Value& value);

  // Gives a setting a value that only this object's settings store answers,
  // for as long as the object lives, without storing it (Null takes the
  // override away): a run of this process alone can be in debug mode while
  // other processes run the project's other items as stored.
  void OverrideSetting(const std::string& section, const std::string& key,
                       const host::Value& value);

  // Takes the lock of item `id` without waiting (the item need not exist);
  // a lock that is not held says why.
  ItemLock LockItem(std::int32_t id);

  // Called by NotifyItemChanged (e.g. to show status changes as they happen).
  void SetItemChangedCallback(std::function<void()> callback) {
    item_changed_ = std::move(callback);
  }

  // "Not run", "Finished", ... for the item status values; "Unknown" otherwise.
  static std::string StatusText(std::int32_t status);
  // "YYYY-MM-DD HH:MM:SS" in local time; "" for the empty date.
  static std::string FormatRunDate(const host::Date& date);

 private:
  class SettingsImpl;
  class BrowserListImpl;
  class BrowserImpl;
  class ItemsImpl;
  class ItemImpl;
  friend class ItemImpl;
  friend class ItemsImpl;

  Project() = default;
  void LoadLayers();
  std::int32_t ReadStatus(std::int32_t id);
  void WriteStatus(std::int32_t id, std::int32_t status);
  host::Date ReadRunDate(std::int32_t id);
  void WriteRunDate(std::int32_t id, const host::Date& date);
  void WriteStat(std::int32_t id, std::int32_t code, float value);
  void DeleteStats(std::int32_t id);
  bool ItemExists(std::int32_t id);

  std::string folder_;
  std::unique_ptr<SqliteDatabase> project_db_;
  std::unique_ptr<SqliteDatabase> data_db_;
  std::unique_ptr<ProjectLayers> layers_;
  std::unique_ptr<SettingsImpl> settings_;
  std::unique_ptr<BrowserListImpl> browsers_;
  std::function<void()> item_changed_;
  // Overridden settings by "section/key" in lower case.
  std::map<std::string, host::Value> overrides_;
};

}  // namespace pramble::sqlhost
