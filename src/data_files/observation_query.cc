// The observation query "_Obs": the usable fields of the item's data-filtered
// observation layer under the column names the R code expects (distance,
// size, object, observer, detected), plus SMP_LINK for the join to the sample
// query. The survey definition names the fields; GetObsFields checks that the
// survey is one the engine can analyse and that those fields exist.
#include <string>

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/string_builder.h"
#include "pramble/host/value.h"

namespace pramble {
namespace {

// Sets `target` from every "Fld" option of `cmd`; the last one counts.
void TakeFieldOption(const host::Command& cmd, std::string& target) {
  if (const auto field = cmd.LastOption("Fld")) target = *field;
}

// Checks one field that a double-observer survey needs; logs and answers
// False when the survey names none (the message names it as `none_what`) or
// the layer lacks it (named as `what`).
bool CheckDoubleObserverField(const std::string& name, const std::string& none_what,
                              const std::string& what, host::LayerFieldList& fields,
                              const std::string& strObsLayerName) {
  if (host::EqualsNoCase(name, "None")) {
    LogAdd("No field is specified in the survey definition for " + none_what + ".", 2);
    return false;
  }
  if (!fields.Item(name)) {
    LogAdd("The survey definition specifies the " + what + " field is '" + name +
               "' but this field does not exist in the observation layer '" + strObsLayerName +
               "'.",
           2);
    return false;
  }
  return true;
}

}  // namespace

bool CClsDataFileMaker::Impl::GetObsFields(
    std::string& strIDField, std::string& strLinkField, std::string& strDistanceField,
    std::string& strClusterSizeField, std::string& strObjectField, std::string& strObserverField,
    std::string& strDetectedField, const std::string& strObsLayerName, bool blnIsSinglePlatform) {
  try {
    host::DefinitionReader& reader = host::CurrentServices().Reader();
    std::string definition = SurveyDefinition;
    std::string survey_type;
    std::string distance_kind;
    bool type_seen = false;
    bool distance_seen = false;
    bool clusters = false;
    while (!definition.empty()) {
      const std::size_t before = definition.size();
      const host::Command cmd = reader.GetNextCommand(definition);
      if (definition.size() >= before) {
        throw host::HostError(5, "The definition reader did not advance in the survey definition");
      }
      if (host::EqualsNoCase(cmd.name, "Type")) {
        survey_type = cmd.value;
        type_seen = true;
        if (!host::EqualsNoCase(survey_type, "Line")) {
          LogAdd(
              "The Quox engine can currently only analyze line transect data.  This survey is "
              "of type '" +
                  survey_type + "' and so cannot be analyzed.",
              2);
          return false;
        }
      } else if (host::EqualsNoCase(cmd.name, "Distance")) {
        distance_kind = cmd.value;
        distance_seen = true;
        if (!host::EqualsNoCase(distance_kind, "Perp")) {
          LogAdd(
              "The Quox engine can currently only analyze perpendicular distance data. "
              "This survey uses radial distances and so cannot be analyzed.",
              2);
          return false;
        }
      } else if (host::EqualsNoCase(cmd.name, "Object")) {
        if (host::EqualsNoCase(cmd.value, "Cluster")) clusters = true;
      } else if (host::EqualsNoCase(cmd.name, "PDist")) {
        TakeFieldOption(cmd, strDistanceField);
      } else if (host::EqualsNoCase(cmd.name, "CSize")) {
        TakeFieldOption(cmd, strClusterSizeField);
      } else if (host::EqualsNoCase(cmd.name, "ObjID")) {
        TakeFieldOption(cmd, strObjectField);
      } else if (host::EqualsNoCase(cmd.name, "Obs")) {
        TakeFieldOption(cmd, strObserverField);
      } else if (host::EqualsNoCase(cmd.name, "Detected")) {
        TakeFieldOption(cmd, strDetectedField);
      }
    }

    auto layer = LayerList().Item(strObsLayerName);
    host::LayerFieldList& fields = Required(layer).Fields();
    strIDField = Required(fields.IDField()).Name();
    strLinkField = Required(fields.LinkField()).Name();

    if (type_seen && distance_seen) {
      auto field = fields.Item(strDistanceField);
      if (!field) {
        LogAdd(
            "The survey definition specifies a line transect analysis using perpendicular "
            "distances, " +
                (host::EqualsNoCase(strDistanceField, "None")
                     ? std::string("but no perpendicular distance field name is specified in "
                                   "the survey.")
                     : "but the perpendicular distance field '" + strDistanceField +
                           "' does not exist in the observation layer '" + strObsLayerName + "'."),
            2);
        return false;
      }
      strDistanceField = field->Name();
      DistanceMeasureUnits = field->Units();
    }
    if (DistanceMeasureUnits.empty()) {
      LogAdd("Distance field has no units in the data sheet.", 2);
      return false;
    }

    if (clusters) {
      if (!fields.Item(strClusterSizeField)) {
        LogAdd(
            "The survey definition specifies that objects are clusters, " +
                (host::EqualsNoCase(strClusterSizeField, "None")
                     ? std::string("but no cluster size field name is specified in the "
                                   "survey.")
                     : "but the cluster size field '" + strClusterSizeField +
                           "' does not exist in the observation layer '" + strObsLayerName + "'."),
            2);
        strClusterSizeField = "";
        return false;
      }
    } else {
      strClusterSizeField = "";
    }

    if (blnIsSinglePlatform) {
      // Without an object field the record ID numbers the objects.
      if (host::EqualsNoCase(strObjectField, "None")) strObjectField = strIDField;
      return true;
    }
    if (!CheckDoubleObserverField(strObjectField, "the object ID", "object ID", fields,
                                  strObsLayerName))
      return false;
    if (!CheckDoubleObserverField(strObserverField, "observer", "observer", fields,
                                  strObsLayerName))
      return false;
    if (!CheckDoubleObserverField(strDetectedField, "detected", "detected", fields,
                                  strObsLayerName))
      return false;
    return true;
  } catch (...) {
    LogErrorSource("DataFileMaker.GetObsFields");
    return false;
  }
}

bool CClsDataFileMaker::Impl::MakeObsQuery(std::int32_t /*lngStratType*/,
                                           std::int32_t /*lngStratLayerType*/,
                                           const std::string& /*strStratFieldName*/,
                                           const std::string& strObsLayerName,
                                           bool blnIsSinglePlatform,
                                           host::clsKeyedCollection& colFields) {
  try {
    host::clsStringBuilder sql;
    sql.Append("SELECT ", false);

    std::string strIDField, strLinkField, strDistanceField, strClusterSizeField, strObjectField,
        strObserverField, strDetectedField;
    if (!GetObsFields(strIDField, strLinkField, strDistanceField, strClusterSizeField,
                      strObjectField, strObserverField, strDetectedField, strObsLayerName,
                      blnIsSinglePlatform))
      return false;

    auto layer = LayerList().Item(strObsLayerName);
    host::LayerFieldList& fields = Required(layer).Fields();
    const std::string src = QueryName(strObsLayerName);
    host::StringUtilities& strings = host::CurrentServices().Strings();

    // Fixed columns, in the order in which a field name is matched against
    // them; the first match decides.
    const struct {
      const std::string& field;
      const char* column;
    } fixed[] = {{strClusterSizeField, "size"},
                 {strDistanceField, "distance"},
                 {strObjectField, "object"},
                 {strObserverField, "observer"},
                 {strDetectedField, "detected"}};

    for (int i = 0; i < fields.Count(); ++i) {
      host::LayerField& field = Required(fields.At(i));
      const std::int32_t type = field.FieldType();
      if (type == host::kFieldShape || type == host::kFieldHidden) continue;
      const std::string name = field.Name();
      const std::string origin = "[" + strObsLayerName + "].[" + name + "]";
      const std::string ref = "[" + src + "].[" + name + "]";

      if (host::EqualsNoCase(name, strLinkField)) {
        sql.Append("[" + src + "].[" + strLinkField + "] AS SMP_LINK, ", false);
        continue;
      }
      bool matched = false;
      for (const auto& f : fixed) {
        if (host::EqualsNoCase(name, f.field)) {
          // A fixed column whose name an earlier ordinary field already took
          // would stand twice in the query and the data file.
          if (colFields.Exists(f.column)) {
            LogAdd(std::string("The column '") + f.column + "' would come from two fields of the "
                       "observation layer '" + strObsLayerName + "': " +
                       colFields.Item(std::string(f.column)) + " and " + origin +
                       "; rename one of them.",
                   2);
            return false;
          }
          sql.Append(ref + " AS " + f.column + ", ", false);
          colFields.Add(origin, f.column);
          matched = true;
          break;
        }
      }
      if (matched) continue;
      if (host::EqualsNoCase(name, strIDField)) continue;

      std::string key = strings.MakeColumnName(name, false, false);
      if (colFields.Exists(key)) {
        // A clash gets the layer-type-qualified key; the alias stays the
        // plain converted name. There is no second test.
        key = strings.MakeColumnName(
            host::CurrentServices().LayerTypes().GetLayerTypeName(host::kLayerObservation) + "." +
                name,
            false, false);
      }
      sql.Append(ref + " AS " + strings.MakeColumnName(name, true, false) + ", ", false);
      colFields.Add(origin, key);
    }

    if (blnIsSinglePlatform) {
      if (colFields.Exists("observer")) {
        LogAdd("A single-observer survey makes its own column 'observer', but the observation "
               "layer '" + strObsLayerName + "' already gives one (" +
                   colFields.Item(std::string("observer")) +
                   "); rename that field or leave it out of the survey's Obs command.",
               2);
        return false;
      }
      sql.Append(std::string("1") + " AS " + "observer" + ", ", false);
      colFields.Add("[temp]", "observer");
    }
    sql.Remove(sql.Length() - 2, 2);
    sql.Append(" FROM [" + src + "]", false);
    return SaveTempQuery("_Obs", sql.Text(), false);
  } catch (...) {
    LogErrorSource("DataFileMaker.MakeObsQuery");
    return false;
  }
}

}  // namespace pramble
