// The main data query "_Data" (strata joined to samples, samples left-joined
// to observations), the column-rename note for the user, and the
// detection-function query "_Ddf" that keeps the rows with an object and the
// columns of the field list.
#include <string>

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/string_builder.h"
#include "pramble/host/value.h"

namespace pramble {

std::string CClsDataFileMaker::Impl::GetMainDataQuery(std::int32_t lngStratType,
                                                      std::int32_t /*lngStratLayerType*/,
                                                      const std::string& /*strStratFieldName*/) {
  try {
    const std::string s = QueryName("_Str");
    const std::string p = QueryName("_Smp");
    const std::string o = QueryName("_Obs");
    std::string sort;
    if (lngStratType == 0 || lngStratType == 1)
      sort = " ORDER BY " + s + ".STR_LINK, " + p + ".SMP_LINK, object, observer";
    return "SELECT *" +
           (" FROM ((" + s + " INNER JOIN " + p + " ON " + s + ".STR_LINK = " + p +
            ".STR_LINK) LEFT JOIN " + o + " ON " + p + ".SMP_LINK = " + o + ".SMP_LINK)") +
           sort;
  } catch (...) {
    LogErrorSource("DataFileMaker.GetMainDataQuery");
    return "";
  }
}

void CClsDataFileMaker::Impl::WriteColRename(const host::clsKeyedCollection& colFields) {
  try {
    host::clsStringBuilder note;
    note.Append(
        "The following fields will be written to the data file, "
        "and can be used in model formulae. "
        "Note that you should use the new names, not the original field names in "
        "formulae, and that formulae names are case sensitive.",
        true);
    note.Append("  Format: [layer name].[field name] AS new name", true);
    for (int i = 1; i <= colFields.Count(); ++i) {
      // Columns the query makes up (the constant observer) get no line.
      if (host::EqualsNoCase(colFields.Item(i), "[temp]")) continue;
      note.Append("  " + colFields.Item(i) + " AS " + colFields.KeyOf(i), true);
    }
    RunLog().Add(note.Text(), 0);
  } catch (...) {
    LogErrorSource("DataFileMaker.WriteColRename");
  }
}

bool CClsDataFileMaker::Impl::MakeDdfDataQuery(const host::clsKeyedCollection& colFields) {
  try {
    host::StringUtilities& strings = host::CurrentServices().Strings();
    host::clsStringBuilder sql;
    sql.Append("SELECT ", false);
    for (int i = 1; i <= colFields.Count(); ++i)
      sql.Append(strings.MakeColumnName(colFields.KeyOf(i), true, false) + ", ", false);
    sql.Remove(sql.Length() - 2, 2);
    sql.Append(" FROM " + QueryName("_Data") + " WHERE NOT(IsNull(Object))", false);
    return SaveTempQuery("_Ddf", sql.Text(), false);
  } catch (...) {
    LogErrorSource("DataFileMaker.MakeDdfDataQuery");
    return false;
  }
}

}  // namespace pramble
