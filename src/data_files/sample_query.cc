// The sample query "_Smp": one row per record of the lowest sample layer above
// the observation layer, with the join keys SMP_LINK and STR_LINK, the sample
// label SMP_LABEL, the effort SMP_EFFORT and the usable fields of the sample
// layers up to the top one (type 20). Effort held below the sample layer is
// summed per sample label through "_SmpEffort1" to "_SmpEffort3".
#include <string>

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/value.h"

namespace pramble {
namespace {

// The sample layer types, as GetParentLayer takes them.
constexpr char kSampleTypes[] = "20,21,22,23,24,25";

}  // namespace

bool CClsDataFileMaker::Impl::GetSampleLayerType(std::int32_t& lngSmpLayerType,
                                                 const std::string& strObsLayerName) {
  try {
    const host::Command cmd =
        host::CurrentServices().Reader().GetCommand(ModelDefinitionDefinition, "Sample");
    if (cmd.OptionCount() == 0) {
      lngSmpLayerType = host::kLayerSample;
    } else {
      for (int i = 0; i < cmd.OptionCount(); ++i) {
        if (host::EqualsNoCase(cmd.option_names[i], "LayerType"))
          lngSmpLayerType = host::ToLong(host::Value(cmd.option_values[i]));
      }
    }
    auto layer = LayerList().Item(strObsLayerName);
    if (!Required(layer).GetParentLayer(std::to_string(lngSmpLayerType))) {
      LogAdd("Sample layer of type " +
                 host::CurrentServices().LayerTypes().GetLayerTypeName(lngSmpLayerType) +
                 " as specified in the Model Definition does not exist in this survey.",
             2);
      return false;
    }
    return true;
  } catch (...) {
    LogErrorSource("DataFileMaker.GetSampleLayerType");
    return false;
  }
}

bool CClsDataFileMaker::Impl::MakeSmpQuery(std::int32_t lngSmpLayerType, std::int32_t lngStratType,
                                           std::int32_t lngStratLayerType,
                                           const std::string& /*strStratFieldName*/,
                                           const std::string& strObsLayerName,
                                           host::clsKeyedCollection& colFields) {
  // The start layer: the nearest sample-type layer above the observation
  // layer, of whatever sample type.
  const std::string start_name = ParentLayerName(strObsLayerName, kSampleTypes);
  if (start_name.empty()) {
    LogAdd("Could not locate sample or subsample layer type as parent of '" + strObsLayerName + "'",
           2);
    return false;
  }

  try {
    std::string effort_field;
    std::string effort_layer;
    if (!host::CurrentServices().Queries().GetEffortSource(
            effort_field, effort_layer, EffortMeasureUnits, Project(), SurveyDefinition, start_name,
            lngSmpLayerType, lngStratType, lngStratLayerType, RunLog()))
      return false;

    std::string sel = "SELECT ";
    std::string from = "FROM ";
    std::string joins;
    std::string flds;
    std::string aliases;
    bool top = false;
    bool first = true;
    bool agg = false;
    std::shared_ptr<host::DataLayer> current = LayerList().Item(start_name);
    while (true) {
      host::DataLayer& layer = Required(current);
      const std::string layer_name = layer.Name();
      const std::int32_t layer_type = layer.LayerType();
      const std::string t = QueryName(layer_name);
      host::LayerFieldList& fields = layer.Fields();

      // The top sample layer's records link to the stratum layer.
      if (layer_type == host::kLayerSample) {
        top = true;
        sel += "[" + t + "].[" + Required(fields.LinkField()).Name() + "] AS STR_LINK, ";
      }
      if (first) {
        first = false;
        sel += "[" + t + "].[" + Required(fields.IDField()).Name() + "] AS SMP_LINK, ";
      }
      if (layer_type == lngSmpLayerType) {
        sel += "[" + t + "].[" + Required(fields.IDField()).Name() + "] & \". \"";
        if (auto label = fields.LabelField()) sel += " & [" + t + "].[" + label->Name() + "]";
        sel += " AS SMP_LABEL, ";
      }
      if (host::EqualsNoCase(effort_layer, layer_name)) {
        sel += "[" + t + "].[" + effort_field + "] AS SMP_EFFORT, ";
        // Effort held below the sample layer is summed per sample.
        if (layer_type > lngSmpLayerType) agg = true;
        if (agg)
          sel += "[" + t + "].[" + Required(fields.IDField()).Name() + "] AS SMP_EFFORT_ID, ";
      }
      AppendLayerFields(layer, t, flds, aliases, colFields);
      from += "(";
      if (top) {
        joins = "[" + t + "]) " + joins;
        break;
      }
      current = JoinToParent(layer, t, joins);
    }

    if (!flds.empty()) sel += flds;
    sel.erase(sel.size() - 2);
    sel += " ";
    const std::string base = sel + from + joins;

    if (!agg) return SaveTempQuery("_Smp", base, false);

    return SaveSummedQueries("SMP", "EFFORT", "_SmpEffort", false, "_Smp", base,
                             "STR_LINK, SMP_LINK, SMP_LABEL, ", aliases);
  } catch (...) {
    LogErrorSource("DataFileMaker.MakeSmpQuery");
    return false;
  }
}

}  // namespace pramble
