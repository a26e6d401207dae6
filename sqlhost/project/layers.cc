#include "sqlhost/project/layers.h"

#include <charconv>

#include "pramble/host/errors.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

// The codes of a comma-separated list; throws HostError 13 on a code that is
// not a whole number.
std::vector<std::int64_t> ParseCodes(const std::string& text) {
  std::vector<std::int64_t> codes;
  std::size_t b = 0;
  while (b <= text.size()) {
    std::size_t e = text.find(',', b);
    if (e == std::string::npos) e = text.size();
    const std::string item = host::Trim(text.substr(b, e - b), " \t");
    if (!item.empty()) {
      std::int64_t v = 0;
      auto [p, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
      if (ec != std::errc() || p != item.data() + item.size()) {
        throw host::HostError(host::kErrTypeMismatch,
                              "Type mismatch: layer type code '" + item + "' in '" + text + "'");
      }
      codes.push_back(v);
    }
    b = e + 1;
  }
  return codes;
}

}  // namespace

std::shared_ptr<host::LayerField> ProjectFieldList::At(int index) const {
  if (index < 0 || index >= Count()) {
    throw host::HostError(9, "Subscript out of range: field " + std::to_string(index));
  }
  return fields_[index];
}

std::shared_ptr<host::LayerField> ProjectFieldList::Item(const std::string& name) const {
  for (const auto& f : fields_) {
    if (host::EqualsNoCase(f->Name(), name)) return f;
  }
  return nullptr;
}

std::shared_ptr<host::LayerField> ProjectFieldList::OfType(std::int32_t type) const {
  for (const auto& f : fields_) {
    if (f->FieldType() == type) return f;
  }
  return nullptr;
}

std::shared_ptr<host::DataLayer> ProjectLayer::GetParentLayer(const std::string& type_codes) {
  if (host::Trim(type_codes, " \t").empty()) return parent_;
  const std::vector<std::int64_t> codes = ParseCodes(type_codes);
  for (auto layer = parent_; layer; layer = layer->parent_) {
    for (std::int64_t c : codes) {
      if (c == layer->type_) return layer;
    }
  }
  return nullptr;
}

std::shared_ptr<host::DataLayer> ProjectLayers::Item(const std::string& name) {
  if (auto layer = Find(name)) return layer;
  throw host::HostError(host::kErrItemNotFound,
                        "Item not found in this collection: there is no layer '" + name + "'.");
}

std::shared_ptr<ProjectLayer> ProjectLayers::Find(const std::string& name) const {
  for (const auto& layer : layers_) {
    if (host::EqualsNoCase(layer->Name(), name)) return layer;
  }
  return nullptr;
}

std::int32_t FieldTypeOfKind(const std::string& kind) {
  static const struct {
    const char* kind;
    std::int32_t type;
  } kKinds[] = {{"id", host::kFieldID},           {"link", host::kFieldLink},
                {"label", host::kFieldLabel},     {"shape", host::kFieldShape},
                {"hidden", host::kFieldHidden},   {"integer", host::kFieldInteger},
                {"decimal", host::kFieldDecimal}, {"text", host::kFieldText}};
  for (const auto& k : kKinds) {
    if (host::EqualsNoCase(kind, k.kind)) return k.type;
  }
  return 0;
}

bool IsLayerTypeCode(std::int64_t code) {
  return code == host::kLayerGlobal || host::IsStratumLayerType(code) ||
         host::IsSampleLayerType(code) || code == host::kLayerObservation;
}

}  // namespace pramble::sqlhost
