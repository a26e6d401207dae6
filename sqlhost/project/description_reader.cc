#include "sqlhost/project/description_reader.h"

#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/definition_rules.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/util/units.h"

namespace pramble::sqlhost::description {
namespace {

std::string UnitList() {
  return "length units: " + JoinTexts(LengthUnitNames(), ", ") +
         "; area units: " + JoinTexts(AreaUnitNames(), ", ");
}

void ReadSettings(const json& j, Description& d) {
  const std::string path = "settings";
  ExpectObject(j, path);
  for (auto s = j.begin(); s != j.end(); ++s) {
    const std::string spath = MemberPath(path, s.key());
    if (s.key().empty()) FailAtPath(spath, "a section name must not be empty");
    ExpectObject(*s, spath);
    for (auto k = s->begin(); k != s->end(); ++k) {
      const std::string kpath = MemberPath(spath, k.key());
      if (k.key().empty()) FailAtPath(kpath, "a key must not be empty");
      const json& v = *k;
      host::Value value;
      if (v.is_boolean()) {
        value = v.get<bool>();
      } else if (auto n = WholeNumber(v); n && v.is_number_integer()) {
        value = *n;
      } else if (v.is_number()) {
        value = v.get<double>();
      } else if (v.is_string()) {
        value = v.get<std::string>();
      } else {
        FailAtPath(kpath,
                   "a setting must be true, false, a number or a text, not " + JsonTypeName(v));
      }
      d.settings.push_back(SettingSpec{s.key(), k.key(), value});
    }
  }
}

FieldSpec ReadField(const json& j, const std::string& path) {
  ExpectObject(j, path);
  RefuseUnknownMembers(j, path, {"name", "kind", "units"}, "a field");
  FieldSpec f;
  f.name = ReadText(RequiredMember(j, path, "name"), MemberPath(path, "name"));
  CheckName(f.name, MemberPath(path, "name"), true);
  f.kind = ReadText(RequiredMember(j, path, "kind"), MemberPath(path, "kind"));
  f.type = FieldTypeOfKind(f.kind);
  if (f.type == 0) {
    FailAtPath(MemberPath(path, "kind"),
               "unknown field kind '" + f.kind +
                   "' (kinds: id, link, label, shape, hidden, integer, decimal, "
                   "text)");
  }
  for (char& c : f.kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (const json* u = OptionalMember(j, "units")) {
    f.units = ReadText(*u, MemberPath(path, "units"));
    if (f.type != host::kFieldInteger && f.type != host::kFieldDecimal) {
      FailAtPath(MemberPath(path, "units"),
                 "units belong on integer or decimal fields, not on a '" + f.kind + "' field");
    }
    if (!MetresPerLengthUnit(f.units) && !SquareMetresPerAreaUnit(f.units)) {
      FailAtPath(MemberPath(path, "units"), "unknown unit '" + f.units + "' (" + UnitList() + ")");
    }
  }
  return f;
}

void ReadLayers(const json& j, const std::string& base_dir, Description& d) {
  const std::string path = "layers";
  ExpectArray(j, path);
  if (j.empty()) FailAtPath(path, "a project needs at least a global and an observation layer");
  for (std::size_t i = 0; i < j.size(); ++i) {
    LayerSpec layer;
    layer.path = ElementPath(path, i);
    const json& lj = j[i];
    ExpectObject(lj, layer.path);
    RefuseUnknownMembers(lj, layer.path, {"name", "type", "parent", "fields", "rows", "csv"},
                         "a layer");
    const std::string npath = MemberPath(layer.path, "name");
    layer.name = ReadText(RequiredMember(lj, layer.path, "name"), npath);
    CheckName(layer.name, npath, true);
    if (IsReservedLayerName(layer.name)) {
      FailAtPath(npath, "the layer name '" + layer.name +
                            "' is reserved (names that start with 'tq' and digits and '_', with "
                            "'sqlite_' or with 'pramble_' belong to the databases)");
    }
    for (std::size_t k = 0; k < d.layers.size(); ++k) {
      if (host::EqualsNoCase(d.layers[k].name, layer.name)) {
        FailAtPath(npath, "a second layer named '" + layer.name +
                              "' (names compare without regard "
                              "to case; the first is " +
                              d.layers[k].path + ")");
      }
    }
    const std::string tpath = MemberPath(layer.path, "type");
    const std::int64_t type = ReadWholeNumber(RequiredMember(lj, layer.path, "type"), tpath);
    if (!IsLayerTypeCode(type)) {
      FailAtPath(tpath, "unknown layer type " + std::to_string(type) +
                            " (1 global, 10 to 15 stratum, 20 to 25 sample, 30 observation)");
    }
    layer.type = static_cast<std::int32_t>(type);

    // Place in the hierarchy.
    const json* parent = OptionalMember(lj, "parent");
    const std::string ppath = MemberPath(layer.path, "parent");
    if (layer.type == host::kLayerGlobal) {
      if (parent) FailAtPath(ppath, "the global layer (type 1) is the top layer and has no parent");
      if (i != 0) {
        FailAtPath(tpath,
                   "a second global layer (type 1); the project's one global layer must be "
                   "the first layer");
      }
    } else {
      if (i == 0) FailAtPath(tpath, "the first layer must be the global layer (type 1)");
      if (!parent)
        FailAtPath(layer.path,
                   "the member 'parent' is missing (every layer but the "
                   "global one names its parent)");
      layer.parent = ReadText(*parent, ppath);
      for (std::size_t k = 0; k < d.layers.size(); ++k) {
        if (host::EqualsNoCase(d.layers[k].name, layer.parent))
          layer.parent_index = static_cast<int>(k);
      }
      if (layer.parent_index < 0) {
        if (host::EqualsNoCase(layer.parent, layer.name)) {
          FailAtPath(ppath, "a layer cannot be its own parent");
        }
        bool later = false;
        for (std::size_t k = i + 1; k < j.size(); ++k) {
          const json& other = j[k];
          if (other.is_object() && other.contains("name") && other["name"].is_string() &&
              host::EqualsNoCase(other["name"].get<std::string>(), layer.parent))
            later = true;
        }
        if (later) {
          FailAtPath(ppath,
                     "the parent '" + layer.parent +
                         "' comes after this layer; parents must come before their children");
        }
        FailAtPath(ppath, "unknown parent layer '" + layer.parent + "'");
      }
      const LayerSpec& p = d.layers[layer.parent_index];
      if (p.type >= layer.type) {
        FailAtPath(tpath, "a layer of type " + std::to_string(layer.type) + " cannot lie below '" +
                              p.name + "' of type " + std::to_string(p.type) +
                              " (types grow from the global layer, 1, down to the observation "
                              "layer, 30)");
      }
    }
    if (layer.type == host::kLayerObservation) {
      for (const auto& other : d.layers) {
        if (other.type == host::kLayerObservation) {
          FailAtPath(tpath,
                     "a second observation layer (type 30); the first is '" + other.name + "'");
        }
      }
    }

    // Fields.
    const std::string fpath = MemberPath(layer.path, "fields");
    const json& fj = RequiredMember(lj, layer.path, "fields");
    ExpectArray(fj, fpath);
    int ids = -1, links = -1, labels = -1;
    for (std::size_t k = 0; k < fj.size(); ++k) {
      const std::string fkpath = ElementPath(fpath, k);
      FieldSpec f = ReadField(fj[k], fkpath);
      for (const auto& other : layer.fields) {
        if (host::EqualsNoCase(other.name, f.name)) {
          FailAtPath(MemberPath(fkpath, "name"), "a second field named '" + f.name +
                                                     "' in layer '" + layer.name +
                                                     "' (names compare without regard to case)");
        }
      }
      auto once = [&](int& seen, const char* kind) {
        if (seen >= 0) {
          FailAtPath(MemberPath(fkpath, "kind"),
                     std::string("a second '") + kind + "' field in layer '" + layer.name +
                         "' (the first is '" + layer.fields[seen].name + "')");
        }
        seen = static_cast<int>(layer.fields.size());
      };
      if (f.type == host::kFieldID) once(ids, "id");
      if (f.type == host::kFieldLink) {
        if (layer.type == host::kLayerGlobal) {
          FailAtPath(MemberPath(fkpath, "kind"),
                     "the global layer has no parent, so it has no 'link' field");
        }
        once(links, "link");
      }
      if (f.type == host::kFieldLabel) once(labels, "label");
      layer.fields.push_back(std::move(f));
    }
    if (ids < 0)
      FailAtPath(fpath, "layer '" + layer.name + "' has no 'id' field (each layer has one)");
    if (links < 0 && layer.type != host::kLayerGlobal) {
      FailAtPath(fpath, "layer '" + layer.name +
                            "' has no 'link' field (it holds the ID of the parent record)");
    }

    // Rows.
    const json* rows = OptionalMember(lj, "rows");
    const json* csv = OptionalMember(lj, "csv");
    if (rows && csv) FailAtPath(layer.path, "give either 'rows' or 'csv', not both");
    if (rows) ReadInlineRows(*rows, layer);
    if (csv) OpenCsvRows(ReadText(*csv, MemberPath(layer.path, "csv")), base_dir, layer);
    d.layers.push_back(std::move(layer));
  }
  bool has_observation = false;
  for (const auto& l : d.layers)
    has_observation = has_observation || l.type == host::kLayerObservation;
  if (!has_observation) FailAtPath(path, "there is no observation layer (type 30)");
}

// The layers as the definition rules see them.
ProjectShape ShapeOf(const Description& d) {
  ProjectShape shape;
  for (const LayerSpec& l : d.layers) {
    ShapeLayer layer{l.name, l.type, {}};
    for (const FieldSpec& f : l.fields) layer.fields.push_back({f.name, f.type, f.units});
    shape.layers.push_back(std::move(layer));
  }
  return shape;
}

// Appends the definitions of section `key` to `out`, whose first `existing`
// entries are the project's own.
void ReadDefinitions(const json& top, const std::string& key, DefinitionKind kind,
                     const ProjectShape& shape, std::vector<DefinitionSpec>& out) {
  const std::string what = DefinitionKindName(kind);
  const std::size_t existing = out.size();
  const json* j = OptionalMember(top, key);
  if (!j) return;
  ExpectArray(*j, key);
  for (std::size_t i = 0; i < j->size(); ++i) {
    const std::string path = ElementPath(key, i);
    const json& dj = (*j)[i];
    ExpectObject(dj, path);
    RefuseUnknownMembers(dj, path, {"id", "name", "definition"}, "a " + what);
    DefinitionSpec def;
    def.id = ReadId(RequiredMember(dj, path, "id"), MemberPath(path, "id"));
    for (std::size_t k = 0; k < out.size(); ++k) {
      if (out[k].id == def.id) {
        FailAtPath(MemberPath(path, "id"),
                   "a second " + what + " with id " + std::to_string(def.id) +
                       (k < existing ? " (the project has one)"
                                     : " (the first is " + ElementPath(key, k - existing) + ")"));
      }
    }
    def.name = ReadText(RequiredMember(dj, path, "name"), MemberPath(path, "name"));
    CheckName(def.name, MemberPath(path, "name"), false);
    def.definition =
        ReadText(RequiredMember(dj, path, "definition"), MemberPath(path, "definition"));
    if (auto error = CheckDefinition(def.definition)) {
      FailAtPath(path + " (id " + std::to_string(def.id) + ").definition",
                 "the definition cannot be read: " + error->ToString());
    }
    if (auto fault = CheckDefinitionRules(kind, def.definition, shape)) {
      FailAtPath(what + " " + std::to_string(def.id) + " '" + def.name + "', " + fault->Place(),
                 fault->problem);
    }
    out.push_back(std::move(def));
  }
}

void ReadAnalyses(const json& top, Description& d) {
  const json* j = OptionalMember(top, "analyses");
  if (!j) return;
  const std::size_t existing = d.analyses.size();
  ExpectArray(*j, "analyses");
  for (std::size_t i = 0; i < j->size(); ++i) {
    const std::string path = ElementPath("analyses", i);
    const json& aj = (*j)[i];
    ExpectObject(aj, path);
    RefuseUnknownMembers(aj, path, {"id", "name", "survey", "data_filter", "model_definition"},
                         "an analysis");
    AnalysisSpec a;
    a.id = ReadId(RequiredMember(aj, path, "id"), MemberPath(path, "id"));
    for (std::size_t k = 0; k < d.analyses.size(); ++k) {
      if (d.analyses[k].id == a.id) {
        FailAtPath(MemberPath(path, "id"),
                   "a second analysis with id " + std::to_string(a.id) +
                       (k < existing ? " (the project has one)"
                                     : " (the first is " + ElementPath("analyses", k - existing) +
                                           ")"));
      }
    }
    a.name = ReadText(RequiredMember(aj, path, "name"), MemberPath(path, "name"));
    CheckName(a.name, MemberPath(path, "name"), false);
    const std::string named = path + " (id " + std::to_string(a.id) + ")";
    auto ref = [&](const char* key, const char* what, const std::vector<DefinitionSpec>& defs) {
      const std::int32_t id = ReadId(RequiredMember(aj, path, key), MemberPath(path, key));
      for (const auto& def : defs) {
        if (def.id == id) return id;
      }
      FailAtPath(MemberPath(named, key),
                 std::string("there is no ") + what + " with id " + std::to_string(id));
    };
    a.survey = ref("survey", "survey", d.surveys);
    a.data_filter = ref("data_filter", "data filter", d.data_filters);
    a.model_definition = ref("model_definition", "model definition", d.model_definitions);
    d.analyses.push_back(std::move(a));
  }
}

// The definitions against the layers of `d`, then the analyses.
void ReadDefinitionsAndAnalyses(const json& top, Description& d) {
  const ProjectShape shape = ShapeOf(d);
  ReadDefinitions(top, "surveys", DefinitionKind::kSurvey, shape, d.surveys);
  ReadDefinitions(top, "data_filters", DefinitionKind::kDataFilter, shape, d.data_filters);
  ReadDefinitions(top, "model_definitions", DefinitionKind::kModelDefinition, shape,
                  d.model_definitions);
  ReadAnalyses(top, d);
}

}  // namespace

Description ReadDescription(const json& top, const std::string& base_dir) {
  Description d;
  ExpectObject(top, "");
  RefuseUnknownMembers(
      top, "", {"settings", "layers", "surveys", "data_filters", "model_definitions", "analyses"},
      "a project description");
  if (const json* s = OptionalMember(top, "settings")) ReadSettings(*s, d);
  ReadLayers(RequiredMember(top, "", "layers"), base_dir, d);
  ReadDefinitionsAndAnalyses(top, d);
  return d;
}

Description ReadFragment(const json& top, const Description& project) {
  Description d = project;
  ExpectObject(top, "");
  RefuseUnknownMembers(top, "", {"surveys", "data_filters", "model_definitions", "analyses"},
                       "a fragment of a project description (layers and settings stay as the "
                       "project has them)");
  ReadDefinitionsAndAnalyses(top, d);
  Description added;
  auto rest = [](const auto& all, const auto& before) {
    return std::vector(all.begin() + static_cast<std::ptrdiff_t>(before.size()), all.end());
  };
  added.surveys = rest(d.surveys, project.surveys);
  added.data_filters = rest(d.data_filters, project.data_filters);
  added.model_definitions = rest(d.model_definitions, project.model_definitions);
  added.analyses = rest(d.analyses, project.analyses);
  return added;
}

}  // namespace pramble::sqlhost::description
