// The data layers of a project as the host hands them to the component: each
// layer with its type, its fields in order and its parent. The layers are read
// from the project database when the project is opened and do not change
// afterwards (a project's layers are fixed when it is created).
//
// Thread-safety: immutable after construction; safe to read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pramble/host/project_database.h"

namespace pramble::sqlhost {

class ProjectField : public host::LayerField {
 public:
  ProjectField(std::string name, std::int32_t field_type, std::string units)
      : name_(std::move(name)), type_(field_type), units_(std::move(units)) {}
  std::string Name() const override { return name_; }
  std::int32_t FieldType() const override { return type_; }
  std::string Units() const override { return units_; }

 private:
  std::string name_;
  std::int32_t type_;
  std::string units_;
};

class ProjectFieldList : public host::LayerFieldList {
 public:
  explicit ProjectFieldList(std::vector<std::shared_ptr<ProjectField>> fields)
      : fields_(std::move(fields)) {}
  int Count() const override { return static_cast<int>(fields_.size()); }
  std::shared_ptr<host::LayerField> At(int index) const override;
  std::shared_ptr<host::LayerField> Item(const std::string& name) const override;
  std::shared_ptr<host::LayerField> IDField() const override { return OfType(host::kFieldID); }
  std::shared_ptr<host::LayerField> LinkField() const override { return OfType(host::kFieldLink); }
  std::shared_ptr<host::LayerField> LabelField() const override {
    return OfType(host::kFieldLabel);
  }

 private:
  std::shared_ptr<host::LayerField> OfType(std::int32_t type) const;
  std::vector<std::shared_ptr<ProjectField>> fields_;
};

class ProjectLayer : public host::DataLayer {
 public:
  ProjectLayer(std::string name, std::int32_t layer_type, std::shared_ptr<ProjectLayer> parent,
               std::vector<std::shared_ptr<ProjectField>> fields)
      : name_(std::move(name)),
        type_(layer_type),
        parent_(std::move(parent)),
        fields_(std::move(fields)) {}
  std::string Name() const override { return name_; }
  std::int32_t LayerType() const override { return type_; }
  host::LayerFieldList& Fields() override { return fields_; }
  std::shared_ptr<host::DataLayer> GetParentLayer(const std::string& type_codes) override;

 private:
  std::string name_;
  std::int32_t type_;
  std::shared_ptr<ProjectLayer> parent_;
  ProjectFieldList fields_;
};

class ProjectLayers : public host::LayerCollection {
 public:
  // `layers` in the project's order, parents before children.
  explicit ProjectLayers(std::vector<std::shared_ptr<ProjectLayer>> layers)
      : layers_(std::move(layers)) {}
  // Fails with HostError 3265 when there is no layer of that name.
  std::shared_ptr<host::DataLayer> Item(const std::string& name) override;
  // Null when absent.
  std::shared_ptr<ProjectLayer> Find(const std::string& name) const;
  const std::vector<std::shared_ptr<ProjectLayer>>& all() const { return layers_; }

 private:
  std::vector<std::shared_ptr<ProjectLayer>> layers_;
};

// The field type code of a field kind ("id" 10, "link" 11, "label" 12,
// "shape" 13, "hidden" 14, "integer" 1, "decimal" 2, "text" 3); 0 when the kind
// is unknown. Kinds compare without regard to case.
std::int32_t FieldTypeOfKind(const std::string& kind);

// True for the layer type codes a project may use: 1, 10-15, 20-25, 30.
bool IsLayerTypeCode(std::int64_t code);

}  // namespace pramble::sqlhost
