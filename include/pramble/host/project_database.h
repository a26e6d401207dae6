// The host's project: its settings store, its analysis items (reached through
// browsers), its two databases, its data layers and its folder. The host hands
// a ProjectDatabase to the engine object; the component reaches everything
// else of the project through it.
//
// Failures throw host::HostError. Thread-safety: used on one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pramble/host/dao.h"
#include "pramble/host/value.h"

namespace pramble::host {

// Settings coordinates. The scope is always the project; the kind tells how
// a value is meant.
inline constexpr std::int32_t kSettingScopeProject = 1;
enum SettingKind : std::int32_t {
  kSettingText = 1,
  kSettingNumber = 2,
  kSettingBoolean = 3,
};

// Settings store. Scope is always kSettingScopeProject. GetSetting answers
// the stored value, or `default_value` when none is stored (Null when no
// default is given).
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual Value GetSetting(std::int32_t scope, std::int32_t kind, const std::string& section,
                           const std::string& key, const Value& default_value = Value{}) = 0;
  virtual void SaveSetting(std::int32_t scope, std::int32_t kind, const std::string& section,
                           const std::string& key, const Value& value) = 0;
};

using Date = std::optional<std::chrono::system_clock::time_point>;  // nullopt: the empty date

// An analysis item. Status, run date and statistics are persisted at once.
class BrowserItem {
 public:
  virtual ~BrowserItem() = default;
  virtual std::int32_t ID() const = 0;
  virtual std::int32_t Status() const = 0;
  virtual void SetStatus(std::int32_t status) = 0;
  virtual Date RunDate() const = 0;
  virtual void SetRunDate(const Date& date) = 0;
  virtual void SetStat(std::int32_t code, float value) = 0;
  virtual void ClearStats() = 0;
};

class BrowserItems {
 public:
  virtual ~BrowserItems() = default;
  // Fails (HostError 35601) for an ID the browser does not hold.
  virtual std::shared_ptr<BrowserItem> Item(std::int32_t id) = 0;
};

class Browser {
 public:
  virtual ~Browser() = default;
  virtual BrowserItems& Items() = 0;
};

class BrowserList {
 public:
  virtual ~BrowserList() = default;
  // The index of the browser that holds item `id` (for an unknown ID, the
  // index of the analysis browser, whose Items().Item(id) then fails).
  virtual std::int64_t IndexOfItem(std::int32_t id) = 0;
  virtual Browser& Item(std::int64_t index) = 0;
};

// Field type codes of data-layer fields.
enum LayerFieldType : std::int32_t {
  kFieldInteger = 1,
  kFieldDecimal = 2,
  kFieldText = 3,
  kFieldID = 10,
  kFieldLink = 11,
  kFieldLabel = 12,
  kFieldShape = 13,
  kFieldHidden = 14,
};

// Layer type codes: 1 global, 10-15 stratum, 20-25 sample, 30 observation.
// 10 is the top stratum layer and 11-15 its substrata; 20 is the top sample
// layer and 21-25 its subsamples.
inline constexpr std::int32_t kLayerGlobal = 1;
inline constexpr std::int32_t kLayerStratum = 10;
inline constexpr std::int32_t kLayerLastStratum = 15;
inline constexpr std::int32_t kLayerSample = 20;
inline constexpr std::int32_t kLayerLastSample = 25;
inline constexpr std::int32_t kLayerObservation = 30;

constexpr bool IsStratumLayerType(std::int64_t code) {
  return code >= kLayerStratum && code <= kLayerLastStratum;
}
constexpr bool IsSampleLayerType(std::int64_t code) {
  return code >= kLayerSample && code <= kLayerLastSample;
}

class LayerField {
 public:
  virtual ~LayerField() = default;
  virtual std::string Name() const = 0;
  virtual std::int32_t FieldType() const = 0;
  virtual std::string Units() const = 0;  // "" when the field has none
};

// A layer's fields in the layer's own order.
class LayerFieldList {
 public:
  virtual ~LayerFieldList() = default;
  virtual int Count() const = 0;
  virtual std::shared_ptr<LayerField> At(int index) const = 0;  // 0-based
  // By name, without regard to case; null when absent.
  virtual std::shared_ptr<LayerField> Item(const std::string& name) const = 0;
  virtual std::shared_ptr<LayerField> IDField() const = 0;
  virtual std::shared_ptr<LayerField> LinkField() const = 0;   // null on the global layer
  virtual std::shared_ptr<LayerField> LabelField() const = 0;  // null when the layer has none
};

class DataLayer {
 public:
  virtual ~DataLayer() = default;
  virtual std::string Name() const = 0;
  virtual std::int32_t LayerType() const = 0;
  virtual LayerFieldList& Fields() = 0;
  // `type_codes` is a comma-separated list of layer type codes: the nearest
  // layer above this one whose type is listed, or null. With "": the immediate
  // parent (null for the global layer).
  virtual std::shared_ptr<DataLayer> GetParentLayer(const std::string& type_codes) = 0;
};

class LayerCollection {
 public:
  virtual ~LayerCollection() = default;
  // By name, without regard to case; fails (HostError 3265) when absent.
  virtual std::shared_ptr<DataLayer> Item(const std::string& name) = 0;
};

class ProjectDatabase {
 public:
  virtual ~ProjectDatabase() = default;
  virtual SettingsStore& Settings() = 0;
  virtual BrowserList& Browsers() = 0;
  virtual dao::Database& Database() = 0;      // results tables
  virtual dao::Database& DataDatabase() = 0;  // survey data and temporary queries
  virtual LayerCollection& Layers() = 0;
  // 0: the project folder; R runs in it and writes the plot files there.
  virtual std::string GetProjectFolder(std::int32_t which) = 0;
  // Called after every change of an item's Status or RunDate; the change is
  // then visible to other readers of the project.
  virtual void NotifyItemChanged() = 0;
};

}  // namespace pramble::host
