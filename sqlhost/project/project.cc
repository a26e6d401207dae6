#include "sqlhost/project/project.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>

#include "pramble/engine_interface.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/file_names.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::system_clock;

host::Date DateFromMicros(const host::Value& v) {
  if (host::IsNull(v)) return std::nullopt;
  const auto micros = std::chrono::microseconds(std::get<std::int64_t>(v));
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(micros));
}

host::Value MicrosFromDate(const host::Date& date) {
  if (!date) return host::Value{};
  return host::Value{static_cast<std::int64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(date->time_since_epoch()).count())};
}

std::string OverrideKey(const std::string& section, const std::string& key) {
  return host::ToLowerAscii(section + "/" + key);
}

}  // namespace

// ---------------------------------------------------------------------------
class Project::SettingsImpl : public host::SettingsStore {
 public:
  explicit SettingsImpl(Project* p) : p_(p) {}
  host::Value GetSetting(std::int32_t scope, std::int32_t kind, const std::string& section,
                         const std::string& key, const host::Value& default_value) override {
    const auto over = p_->overrides_.find(OverrideKey(section, key));
    if (over != p_->overrides_.end()) return over->second;
    auto v = p_->GetSettingValue(section, key);
    return v ? *v : default_value;
  }
  void SaveSetting(std::int32_t scope, std::int32_t kind, const std::string& section,
                   const std::string& key, const host::Value& value) override {
    p_->SetSettingValue(section, key, value);
  }

 private:
  Project* p_;
};

class Project::ItemImpl : public host::BrowserItem {
 public:
  ItemImpl(std::shared_ptr<Project> p, std::int32_t id) : p_(std::move(p)), id_(id) {}
  std::int32_t ID() const override { return id_; }
  std::int32_t Status() const override { return p_->ReadStatus(id_); }
  void SetStatus(std::int32_t status) override { p_->WriteStatus(id_, status); }
  host::Date RunDate() const override { return p_->ReadRunDate(id_); }
  void SetRunDate(const host::Date& date) override { p_->WriteRunDate(id_, date); }
  void SetStat(std::int32_t code, float value) override { p_->WriteStat(id_, code, value); }
  void ClearStats() override { p_->DeleteStats(id_); }

 private:
  std::shared_ptr<Project> p_;
  std::int32_t id_;
};

class Project::ItemsImpl : public host::BrowserItems {
 public:
  explicit ItemsImpl(Project* p) : p_(p) {}
  std::shared_ptr<host::BrowserItem> Item(std::int32_t id) override {
    if (!p_->ItemExists(id)) throw host::HostError(host::kErrElementNotFound, "Element not found");
    return std::make_shared<ItemImpl>(p_->shared_from_this(), id);
  }

 private:
  Project* p_;
};

class Project::BrowserImpl : public host::Browser {
 public:
  explicit BrowserImpl(Project* p) : items_(p) {}
  host::BrowserItems& Items() override { return items_; }

 private:
  ItemsImpl items_;
};

// The project has one browser: the analysis browser, which holds every item.
class Project::BrowserListImpl : public host::BrowserList {
 public:
  explicit BrowserListImpl(Project* p) : analyses_(p) {}
  std::int64_t IndexOfItem(std::int32_t id) override { return 0; }
  host::Browser& Item(std::int64_t index) override {
    if (index != 0) {
      throw host::HostError(host::kErrElementNotFound,
                            "Element not found: there is no browser " + std::to_string(index));
    }
    return analyses_;
  }

 private:
  BrowserImpl analyses_;
};

// ---------------------------------------------------------------------------
std::shared_ptr<Project> Project::Open(const std::string& dir) {
  std::error_code ec;
  const fs::file_status st = fs::status(dir, ec);
  if (!fs::exists(st)) {
    throw ProjectError(ProjectError::Kind::kMissing, "project folder '" + dir + "' does not exist");
  }
  if (!fs::is_directory(st)) {
    throw ProjectError(ProjectError::Kind::kUnreadable,
                       "'" + dir + "' is not a project folder (it is not a folder)");
  }
  std::shared_ptr<Project> p(new Project());
  fs::path abs = fs::absolute(dir, ec).lexically_normal();
  std::string folder = abs.string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  p->folder_ = folder;

  auto open = [&](const char* file, const std::string& path) {
    if (!fs::exists(path, ec)) {
      throw ProjectError(ProjectError::Kind::kUnreadable,
                         "'" + dir + "' is not a pramble project: it has no " + file +
                             " (make a project with 'pramble create')");
    }
    try {
      return SqliteDatabase::Open(path, OpenMode::kReadWrite);
    } catch (const host::HostError& e) {
      // The cause goes with it: a locked database is no bad project.
      std::throw_with_nested(ProjectError(ProjectError::Kind::kUnreadable,
                                          "cannot open the project database '" + path +
                                              "': " + e.what()));
    }
  };
  p->project_db_ = open(kProjectFileName, ProjectDatabaseFile(folder));
  p->data_db_ = open(kDataFileName, DataDatabaseFile(folder));

  const std::string project_path = p->project_db_->path();
  try {
    Statement format(p->project_db_->connection(), "SELECT value FROM project_info WHERE key = ?1");
    format.Bind(1, host::Value{std::string(kFormatKey)});
    if (!format.Step() || format.ColumnText(0) != kFormatValue) {
      throw ProjectError(ProjectError::Kind::kUnreadable,
                         "'" + project_path + "' is not a pramble project database");
    }
  } catch (const host::HostError& e) {
    std::throw_with_nested(ProjectError(
        ProjectError::Kind::kUnreadable,
        "cannot read the project database '" + project_path + "': " + e.what()));
  }
  try {
    p->LoadLayers();
  } catch (const host::HostError& e) {
    std::throw_with_nested(ProjectError(
        ProjectError::Kind::kUnreadable,
        "cannot read the layers of the project database '" + project_path + "': " + e.what()));
  }
  p->settings_ = std::make_unique<SettingsImpl>(p.get());
  p->browsers_ = std::make_unique<BrowserListImpl>(p.get());
  return p;
}

Project::~Project() = default;

void Project::LoadLayers() {
  const Connection& db = project_db_->connection();
  std::vector<std::shared_ptr<ProjectLayer>> layers;
  Statement ls(db, "SELECT ord, name, layer_type, parent FROM layers ORDER BY ord");
  Statement fs(db,
               "SELECT name, field_type, units FROM layer_fields WHERE layer_ord = ?1 "
               "ORDER BY ord");
  while (ls.Step()) {
    std::vector<std::shared_ptr<ProjectField>> fields;
    fs.Reset();
    fs.Bind(1, host::Value{ls.ColumnInt(0)});
    while (fs.Step()) {
      fields.push_back(std::make_shared<ProjectField>(
          fs.ColumnText(0), static_cast<std::int32_t>(fs.ColumnInt(1)), fs.ColumnText(2)));
    }
    std::shared_ptr<ProjectLayer> parent;
    if (!ls.ColumnIsNull(3)) {
      const std::string parent_name = ls.ColumnText(3);
      for (const auto& l : layers) {
        if (host::EqualsNoCase(l->Name(), parent_name)) parent = l;
      }
      if (!parent) {
        throw host::HostError(
            host::kErrItemNotFound,
            "layer '" + ls.ColumnText(1) + "' names an unknown parent '" + parent_name + "'");
      }
    }
    layers.push_back(std::make_shared<ProjectLayer>(
        ls.ColumnText(1), static_cast<std::int32_t>(ls.ColumnInt(2)), parent, std::move(fields)));
  }
  layers_ = std::make_unique<ProjectLayers>(std::move(layers));
}

host::SettingsStore& Project::Settings() { return *settings_; }
host::BrowserList& Project::Browsers() { return *browsers_; }

void Project::NotifyItemChanged() {
  // Every change is committed when it is made; only the observer is left.
  if (item_changed_) item_changed_();
}

// ---------------------------------------------------------------------------
std::optional<host::Value> Project::GetSettingValue(const std::string& section,
                                                    const std::string& key) {
  Statement s(project_db_->connection(),
              "SELECT kind, value FROM settings WHERE section = ?1 AND key = ?2");
  s.Bind(1, host::Value{section}).Bind(2, host::Value{key});
  if (!s.Step()) return std::nullopt;
  const std::string kind = s.ColumnText(0);
  host::Value v = s.Column(1);
  if (kind == "bool") return host::Value{std::get<std::int64_t>(v) != 0};
  return v;
}

void Project::OverrideSetting(const std::string& section, const std::string& key,
                              const host::Value& value) {
  if (host::IsNull(value)) {
    overrides_.erase(OverrideKey(section, key));
  } else {
    overrides_[OverrideKey(section, key)] = value;
  }
}

void Project::SetSettingValue(const std::string& section, const std::string& key,
                              const host::Value& value) {
  const Connection& db = project_db_->connection();
  if (host::IsNull(value)) {
    Statement s(db, "DELETE FROM settings WHERE section = ?1 AND key = ?2");
    s.Bind(1, host::Value{section}).Bind(2, host::Value{key}).Run();
    return;
  }
  Statement s(db,
              "INSERT INTO settings (section, key, kind, value) VALUES (?1, ?2, ?3, ?4) "
              "ON CONFLICT (section, key) DO UPDATE SET kind = excluded.kind, "
              "value = excluded.value");
  s.Bind(1, host::Value{section})
      .Bind(2, host::Value{key})
      .Bind(3, host::Value{std::string(SettingKind(value))})
      .Bind(4, value)
      .Run();
}

// ---------------------------------------------------------------------------
namespace {

ItemInfo ReadItem(const Statement& s) {
  ItemInfo item;
  item.id = static_cast<std::int32_t>(s.ColumnInt(0));
  item.name = s.ColumnText(1);
  item.status = static_cast<std::int32_t>(s.ColumnInt(2));
  item.run_date = DateFromMicros(s.Column(3));
  item.survey_id = static_cast<std::int32_t>(s.ColumnInt(4));
  item.data_filter_id = static_cast<std::int32_t>(s.ColumnInt(5));
  item.model_definition_id = static_cast<std::int32_t>(s.ColumnInt(6));
  return item;
}

constexpr const char* kItemColumns =
    "SELECT id, name, status, run_date, survey_id, data_filter_id, model_definition_id "
    "FROM analyses";

}  // namespace

std::vector<ItemInfo> Project::ListItems() {
  Statement s(project_db_->connection(), std::string(kItemColumns) + " ORDER BY id");
  std::vector<ItemInfo> items;
  while (s.Step()) items.push_back(ReadItem(s));
  return items;
}

std::optional<ItemInfo> Project::FindItem(std::int32_t id) {
  Statement s(project_db_->connection(), std::string(kItemColumns) + " WHERE id = ?1");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)});
  if (!s.Step()) return std::nullopt;
  return ReadItem(s);
}

std::vector<ItemStat> Project::ItemStats(std::int32_t id) {
  Statement s(project_db_->connection(),
              "SELECT code, value FROM analysis_stats WHERE analysis_id = ?1 ORDER BY rowid");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)});
  std::vector<ItemStat> stats;
  while (s.Step()) {
    stats.push_back(ItemStat{static_cast<std::int32_t>(s.ColumnInt(0)),
                             static_cast<float>(host::ToDouble(s.Column(1)))});
  }
  return stats;
}

bool Project::ItemExists(std::int32_t id) {
  Statement s(project_db_->connection(), "SELECT 1 FROM analyses WHERE id = ?1");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)});
  return s.Step();
}

std::int32_t Project::ReadStatus(std::int32_t id) {
  Statement s(project_db_->connection(), "SELECT status FROM analyses WHERE id = ?1");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)});
  if (!s.Step()) throw host::HostError(host::kErrElementNotFound, "Element not found");
  return static_cast<std::int32_t>(s.ColumnInt(0));
}

void Project::WriteStatus(std::int32_t id, std::int32_t status) {
  Statement s(project_db_->connection(), "UPDATE analyses SET status = ?1 WHERE id = ?2");
  s.Bind(1, host::Value{static_cast<std::int64_t>(status)})
      .Bind(2, host::Value{static_cast<std::int64_t>(id)})
      .Run();
}

host::Date Project::ReadRunDate(std::int32_t id) {
  Statement s(project_db_->connection(), "SELECT run_date FROM analyses WHERE id = ?1");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)});
  if (!s.Step()) throw host::HostError(host::kErrElementNotFound, "Element not found");
  return DateFromMicros(s.Column(0));
}

void Project::WriteRunDate(std::int32_t id, const host::Date& date) {
  Statement s(project_db_->connection(), "UPDATE analyses SET run_date = ?1 WHERE id = ?2");
  s.Bind(1, MicrosFromDate(date)).Bind(2, host::Value{static_cast<std::int64_t>(id)}).Run();
}

void Project::WriteStat(std::int32_t id, std::int32_t code, float value) {
  Statement s(project_db_->connection(),
              "INSERT OR REPLACE INTO analysis_stats (analysis_id, code, value) "
              "VALUES (?1, ?2, ?3)");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)})
      .Bind(2, host::Value{static_cast<std::int64_t>(code)})
      .Bind(3, host::Value{static_cast<double>(value)})
      .Run();
}

void Project::DeleteStats(std::int32_t id) {
  const Connection& db = project_db_->connection();
  Statement s(db, "DELETE FROM analysis_stats WHERE analysis_id = ?1");
  s.Bind(1, host::Value{static_cast<std::int64_t>(id)}).Run();
  DeleteRecord(db, id);
}

// ---------------------------------------------------------------------------
std::string Project::StatusText(std::int32_t status) {
  switch (status) {
    case kStatusNotRun:
      return "Not run";
    case kStatusFinished:
      return "Finished";
    case kStatusFinishedWithWarnings:
      return "Finished with warnings";
    case kStatusFinishedWithErrors:
      return "Finished with errors";
    case kStatusPreparing:
      return "Preparing";
    case kStatusEngineRunning:
      return "Engine running";
    case kStatusReadingResults:
      return "Reading results";
    case kStatusStopping:
      return "Stopping";
    default:
      return "Unknown";
  }
}

std::string Project::FormatRunDate(const host::Date& date) {
  if (!date) return "";
  const std::time_t t = Clock::to_time_t(*date);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

ItemLock Project::LockItem(std::int32_t id) {
  ItemLock lock;
  const std::string locks = LocksFolder(folder_);
  lock.path_ = ItemLockFile(folder_, id);
  lock.reason_ = ::mkdir(locks.c_str(), 0777) == 0 || errno == EEXIST
                     ? lock.file_.Open(lock.path_, false)
                     : std::strerror(errno);
  if (!lock.reason_.empty()) {
    lock.refusal_ = ItemLock::Refusal::kCannotOpen;
    return lock;
  }
  if (!lock.file_.Lock(LOCK_EX | LOCK_NB)) {
    if (errno != EWOULDBLOCK) {
      lock.refusal_ = ItemLock::Refusal::kSystem;
      lock.reason_ = std::strerror(errno);
      return lock;
    }
    lock.refusal_ = ItemLock::Refusal::kBusy;
    char buf[32];
    const ssize_t n = ::pread(lock.file_.fd(), buf, sizeof buf - 1, 0);
    lock.holder_ = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    while (!lock.holder_.empty() && (lock.holder_.back() == '\n' || lock.holder_.back() == ' '))
      lock.holder_.pop_back();
    lock.file_ = FileLock{};
    return lock;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(lock.file_.fd(), 0) != 0 ||
      ::pwrite(lock.file_.fd(), pid.data(), pid.size(), 0) < 0) {
    // The process ID only serves the answer to the next one who asks.
  }
  return lock;
}

}  // namespace pramble::sqlhost
