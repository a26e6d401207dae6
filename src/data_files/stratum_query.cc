// The stratum query "_Str": one row per record of the lowest stratum (or the
// global) layer above the observation layer, with the join key STR_LINK, the
// region label STR_LABEL, the region's area STR_AREA and the usable fields of
// that layer and every layer above it. An area held below the region layer is
// summed per region label through "_StrArea1" to "_StrArea3".
#include <string>

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/value.h"

namespace pramble {
namespace {

// The stratum and global layer types, as GetParentLayer takes them.
constexpr char kStratumOrGlobalTypes[] = "1,10,11,12,13,14,15";

// Field types never copied as ordinary columns (ID, link, shape, hidden).
bool IsCopiedFieldType(std::int32_t type) {
  return type != host::kFieldID && type != host::kFieldLink && type != host::kFieldShape &&
         type != host::kFieldHidden;
}

std::string LayerTypeName(std::int32_t layer_type) {
  return host::CurrentServices().LayerTypes().GetLayerTypeName(layer_type);
}

}  // namespace

bool CClsDataFileMaker::Impl::GetStratificationType(std::int32_t& lngStratType,
                                                    std::int32_t& lngStratLayerType,
                                                    std::string& strStratFieldName,
                                                    const std::string& strObsLayerName) {
  try {
    const host::Command cmd =
        host::CurrentServices().Reader().GetCommand(ModelDefinitionDefinition, "Stratification");
    if (cmd.value.empty() || host::EqualsNoCase(cmd.value, "None")) {
      lngStratType = 0;
    } else if (host::EqualsNoCase(cmd.value, "Stratify")) {
      lngStratType = 1;
    } else if (host::EqualsNoCase(cmd.value, "Post-stratify")) {
      lngStratType = 2;
    }

    if (lngStratType == 0) {
      lngStratLayerType = host::kLayerGlobal;
      strStratFieldName = "";
    } else {
      for (int i = 0; i < cmd.OptionCount(); ++i) {
        if (host::EqualsNoCase(cmd.option_names[i], "LayerType")) {
          lngStratLayerType = host::ToLong(host::Value(cmd.option_values[i]));
        } else if (host::EqualsNoCase(cmd.option_names[i], "FieldName")) {
          strStratFieldName = cmd.option_values[i];
        }
      }
    }

    if (lngStratType == 1) {
      auto layer = LayerList().Item(strObsLayerName);
      if (!Required(layer).GetParentLayer(std::to_string(lngStratLayerType))) {
        LogAdd("Stratification layer type " + LayerTypeName(lngStratLayerType) +
                   " is specified in Model Definition, but does not exist in this Survey",
               2);
        return false;
      }
      return true;
    }
    if (lngStratType == 2) {
      auto layer = LayerList().Item(strObsLayerName);
      std::shared_ptr<host::DataLayer> strat_layer =
          lngStratLayerType == host::kLayerObservation
              ? layer
              : Required(layer).GetParentLayer(std::to_string(lngStratLayerType));
      if (!strat_layer) {
        LogAdd("Post-stratification layer type " + LayerTypeName(lngStratLayerType) +
                   " is specified in Model Definition, but does not exist in this Survey",
               2);
        return false;
      }
      if (!strat_layer->Fields().Item(strStratFieldName)) {
        LogAdd("Post-stratification field " + strStratFieldName +
                   " is specified in Model Definition, but does not exist in the '" +
                   strat_layer->Name() + "' layer of this Survey",
               2);
        return false;
      }
      return true;
    }
    return true;
  } catch (...) {
    LogErrorSource("DataFileMaker.GetStratificationType");
    return false;
  }
}

void CClsDataFileMaker::Impl::AppendLayerFields(host::DataLayer& layer,
                                                const std::string& strQueryName, std::string& flds,
                                                std::string& aliases,
                                                host::clsKeyedCollection& colFields) {
  host::StringUtilities& strings = host::CurrentServices().Strings();
  const std::string layer_name = layer.Name();
  host::LayerFieldList& fields = layer.Fields();
  for (int i = 0; i < fields.Count(); ++i) {
    host::LayerField& field = Required(fields.At(i));
    if (!IsCopiedFieldType(field.FieldType())) continue;
    const std::string name = field.Name();
    const std::string origin = "[" + layer_name + "].[" + name + "]";
    const std::string ref = "[" + strQueryName + "].[" + name + "]";
    std::string key = strings.MakeColumnName(name, false, false);
    if (colFields.Exists(key)) {
      // A clash gets the layer-type-qualified name; there is no second test.
      key = strings.MakeColumnName(LayerTypeName(layer.LayerType()) + "." + name, false, false);
    }
    const std::string alias = strings.MakeColumnName(key, true, false);
    flds += ref + " AS " + alias + ", ";
    aliases += alias + ", ";
    colFields.Add(origin, key);
  }
}

bool CClsDataFileMaker::Impl::MakeStrQuery(std::int32_t lngStratType,
                                           std::int32_t lngStratLayerType,
                                           const std::string& /*strStratFieldName*/,
                                           const std::string& strObsLayerName,
                                           host::clsKeyedCollection& colFields) {
  // The start layer: the nearest stratum or global layer above the
  // observation layer.
  const std::string start_name = ParentLayerName(strObsLayerName, kStratumOrGlobalTypes);
  if (start_name.empty()) {
    LogAdd("Could not locate stratum or global parent of '" + strObsLayerName + "'", 2);
    return false;
  }

  try {
    host::TempQueries& queries = host::CurrentServices().Queries();
    std::string area_filter_text;
    if (!queries.GetAreaFilterText(area_filter_text, DataFilterDefinition, RunLog())) return false;
    std::string area_field;
    std::string area_layer;
    double area_factor = 0;
    if (!queries.GetAreaSource(area_field, area_layer, area_factor, AreaMeasureUnits, Project(),
                               SurveyDefinition, area_filter_text, start_name, lngStratType,
                               lngStratLayerType, RunLog()))
      return false;
    const bool no_area = host::EqualsNoCase(area_field, "None");

    std::string sel = "SELECT ";
    std::string from = "FROM ";
    std::string joins;
    std::string flds;
    std::string aliases;
    bool global = false;
    bool first = true;
    bool agg = false;
    std::shared_ptr<host::DataLayer> current = LayerList().Item(start_name);
    while (true) {
      host::DataLayer& layer = Required(current);
      const std::string layer_name = layer.Name();
      const std::int32_t layer_type = layer.LayerType();
      const std::string t = QueryName(layer_name);
      host::LayerFieldList& fields = layer.Fields();

      if (layer_type == host::kLayerGlobal) {
        global = true;
        if (no_area) sel += "0 AS STR_AREA, ";
      }
      if (first) {
        first = false;
        sel += "[" + t + "].[" + Required(fields.IDField()).Name() + "] AS STR_LINK, ";
      }
      if (lngStratType == 0) {
        if (layer_type == host::kLayerGlobal) sel += "\"1.\" AS STR_LABEL, ";
      } else if (lngStratType == 1 && layer_type == lngStratLayerType) {
        sel += "[" + t + "].[" + Required(fields.IDField()).Name() + "] & \". \"";
        if (auto label = fields.LabelField()) sel += " & [" + t + "].[" + label->Name() + "]";
        sel += " AS STR_LABEL, ";
      }
      if (!no_area && host::EqualsNoCase(area_layer, layer_name)) {
        sel += "[" + t + "].[" + area_field + "] ";
        if (area_factor != 0) {
          // The factor in its ordinary text form: the shortest that reads back exactly.
          sel += "* " + host::CurrentServices().Strings().FormatSqlNumber(
                            host::ToText(host::Value(area_factor)));
        }
        sel += " AS STR_AREA, ";
        // The area of a layer below the region layer is summed per region.
        if (lngStratType == 1 ? layer_type != lngStratLayerType : layer_type != host::kLayerGlobal)
          agg = true;
        if (agg) sel += "[" + t + "].[" + Required(fields.IDField()).Name() + "] AS STR_AREA_ID, ";
      }
      AppendLayerFields(layer, t, flds, aliases, colFields);
      from += "(";
      if (global) {
        joins = "[" + t + "]) " + joins;
        break;
      }
      current = JoinToParent(layer, t, joins);
    }

    if (!flds.empty()) sel += flds;
    sel.erase(sel.size() - 2);
    sel += " ";
    const std::string base = sel + from + joins;

    if (!agg) return SaveTempQuery("_Str", base, false);

    return SaveSummedQueries("STR", "AREA", "_StrArea", true, "_Str", base, "STR_LINK, STR_LABEL, ",
                             aliases);
  } catch (...) {
    LogErrorSource("DataFileMaker.MakeStrQuery");
    return false;
  }
}

std::string CClsDataFileMaker::Impl::ParentLayerName(const std::string& strObsLayerName,
                                                    const char* types) {
  try {
    auto layer = LayerList().Item(strObsLayerName);
    return Required(Required(layer).GetParentLayer(types)).Name();
  } catch (...) {
    return "";
  }
}

std::shared_ptr<host::DataLayer> CClsDataFileMaker::Impl::JoinToParent(
    host::DataLayer& layer, const std::string& strQueryName, std::string& joins) {
  std::shared_ptr<host::DataLayer> parent = layer.GetParentLayer("");
  host::DataLayer& parent_layer = Required(parent);
  const std::string p = QueryName(parent_layer.Name());
  joins = "INNER JOIN [" + strQueryName + "] ON [" + p + "].[" +
          Required(parent_layer.Fields().IDField()).Name() + "] = [" + strQueryName + "].[" +
          Required(layer.Fields().LinkField()).Name() + "]) " + joins;
  return parent;
}

bool CClsDataFileMaker::Impl::SaveSummedQueries(const std::string& prefix,
                                                const std::string& measure,
                                                const std::string& stem, bool first_flag,
                                                const std::string& final_suffix,
                                                const std::string& base, const std::string& lead,
                                                const std::string& aliases) {
  const std::string label = prefix + "_LABEL", value = prefix + "_" + measure;
  if (!SaveTempQuery(stem + "1", base, first_flag)) return false;
  const std::string q1 = QueryName(stem + "1");
  if (!SaveTempQuery(stem + "2",
                     "SELECT FIRST(" + label + ") AS " + label + "1, FIRST(" + value + ") AS " +
                         value + "1, " + "FIRST(" + value + "_ID) AS " + value + "_ID1 FROM " + q1 +
                         " GROUP BY " + value + "_ID",
                     false))
    return false;
  const std::string q2 = QueryName(stem + "2");
  if (!SaveTempQuery(stem + "3",
                     "SELECT FIRST(" + label + "1) AS " + label + "2, SUM(" + value + "1) AS " +
                         value + "2 " + "FROM " + q2 + " GROUP BY " + label + "1",
                     false))
    return false;
  const std::string q3 = QueryName(stem + "3");
  return SaveTempQuery(final_suffix,
                       "SELECT " + lead + aliases + value + "2 AS " + value + " FROM " + q1 +
                           " LEFT JOIN " + q3 + " ON " + q1 + "." + label + " = " + q3 + "." +
                           label + "2",
                       false);
}

}  // namespace pramble
