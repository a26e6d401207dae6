// The three density-estimation queries derived from the main query "_Data":
// regions with their areas, samples with their region and effort, observed
// objects with their region and sample; and the test that every object number
// belongs to one place only.
#include <string>

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"

namespace pramble {
namespace {

// The number of rows of `source`; moving to the last record makes the
// database layer count them all. An empty result fails (no current record).
std::int64_t CountRows(host::dao::Database& db, const std::string& source) {
  std::unique_ptr<host::dao::Recordset> rs = db.OpenRecordset(source, host::dao::kOpenDynaset);
  Required(rs).MoveLast();
  const std::int64_t count = rs->RecordCount();
  rs->Close();
  return count;
}

}  // namespace

bool CClsDataFileMaker::Impl::MakeDhtDataQueries() {
  try {
    const std::string d = QueryName("_Data");
    if (!SaveTempQuery("_DhtRegion",
                       "SELECT DISTINCT STR_LABEL AS Region_Label, STR_AREA As Area FROM " + d,
                       false))
      return false;
    if (!SaveTempQuery("_DhtSample",
                       "SELECT DISTINCT SMP_LABEL As Sample_Label, STR_LABEL As Region_Label, "
                       "SMP_EFFORT As Effort FROM " +
                           d,
                       false))
      return false;
    if (!SaveTempQuery("_DhtObs",
                       "SELECT DISTINCT object, STR_LABEL As Region_Label, "
                       "SMP_LABEL As Sample_Label FROM " +
                           d + " WHERE object>0",
                       false))
      return false;

    // Each object must lie in one region and one sample: as many distinct
    // (object, region, sample) rows as distinct objects. Two places per
    // object would count every object twice in the density step, so only
    // equal counts pass.
    const std::string obs_query = QueryName("_DhtObs");
    const std::int64_t rows = CountRows(Data(), obs_query);
    const std::int64_t objects = CountRows(Data(), "SELECT DISTINCT object FROM " + obs_query);
    if (rows == objects) return true;
    LogAdd("Some values in the object field are not unique", 2);
    return false;
  } catch (...) {
    LogErrorSource("DataFileMaker.MakeDhtDataQueries");
    return false;
  }
}

}  // namespace pramble
