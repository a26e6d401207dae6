// The data file writer: runs a saved query of the item and streams its rows
// into a tab-delimited data file, one line in memory at a time. The format is
// described in docs/data-files.md.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/value.h"

namespace pramble {
namespace {

// Integer, Long, Single, Double and Float columns are written as numbers.
bool IsNumberType(std::int32_t type) {
  return type == host::dao::kInteger || type == host::dao::kLong || type == host::dao::kSingle ||
         type == host::dao::kDouble || type == host::dao::kFloat;
}

void AppendChars(std::string& line, std::int64_t value) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  line.append(buf, end);
}

void AppendChars(std::string& line, double value) {
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  line.append(buf, end);
}

// Whether R reads [begin, end), the shortest form of a double, back as that
// double.
// R's reader is not correctly rounded: it gathers the decimal digits as an
// integer and scales it by a power of ten in extended (64-bit mantissa)
// precision, then rounds to double. That double rounding is sure to give the
// right double only when the digits fit the extended mantissa and the scaling
// is exact (an integer value below 2^64) or divides by at most 10^4 (then the
// decimal lies at least 1/1250 of a half-ulp away from every tie, more than
// the extended rounding error of 1/2048). Other shortest forms misread in
// about one case in ten thousand.
bool ReadsBackInR(const char* begin, const char* end) {
  std::uint64_t digits = 0;
  int fraction_digits = 0;
  bool in_fraction = false;
  int exponent = 0;
  for (const char* p = begin; p != end; ++p) {
    if (*p >= '0' && *p <= '9') {
      if (digits > (UINT64_MAX - 9) / 10) return false;
      digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
      if (in_fraction) ++fraction_digits;
    } else if (*p == '.') {
      in_fraction = true;
    } else if (*p == 'e') {
      const char* q = p + 1;
      if (q != end && *q == '+') ++q;
      std::from_chars(q, end, exponent);
      break;
    }
  }
  const int scale = fraction_digits - exponent;  // value = digits / 10^scale
  if (scale > 4) return false;
  for (int i = scale; i < 0; ++i) {
    if (digits > UINT64_MAX / 10) return false;
    digits *= 10;
  }
  return true;
}

// The language-neutral number form: a blank before zero and positive
// numbers, "-" before negative ones, a point as decimal separator, and as
// many digits as it takes for R's read.table to read back exactly the stored
// value: the shortest form when R is sure to read it right, else 17
// significant digits.
void AppendNumber(std::string& line, const host::Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    if (*i >= 0) line += ' ';
    AppendChars(line, *i);
    return;
  }
  const double d =
      std::holds_alternative<double>(value) ? std::get<double>(value) : host::ToDouble(value);
  if (std::isnan(d)) {
    line += " NaN";
  } else if (std::isinf(d)) {
    line += d > 0 ? " Inf" : "-Inf";
  } else if (d == 0) {
    line += " 0";  // negative zero too
  } else {
    if (d > 0) line += ' ';
    char buf[40];
    char* end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    if (!ReadsBackInR(buf, end))
      end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17).ptr;
    line.append(buf, end);
  }
}

// A value in its ordinary text form. Tabs and line breaks in a text would
// shift the later fields or rows in R, so each becomes one blank; answers
// whether any was replaced.
bool AppendText(std::string& line, const host::Value& value) {
  switch (value.index()) {
    case 1:
      line += std::get<bool>(value) ? "True" : "False";
      return false;
    case 2:
      AppendChars(line, std::get<std::int64_t>(value));
      return false;
    case 3:
      AppendChars(line, std::get<double>(value));
      return false;
    case 4: {
      const std::size_t start = line.size();
      line += std::get<std::string>(value);
      bool replaced = false;
      for (std::size_t k = start; k < line.size(); ++k) {
        char& c = line[k];
        if (c == '\t' || c == '\r' || c == '\n') {
          c = ' ';
          replaced = true;
        }
      }
      return replaced;
    }
    default:
      return false;
  }
}

}  // namespace

bool CClsDataFileMaker::Impl::WriteDdfDataFile() {
  if (DdfDataFile.empty()) DdfDataFile = DefaultPath("ddf.dat.r");
  return WriteQueryToFile(DdfDataFile, QueryName("_Ddf"));
}

bool CClsDataFileMaker::Impl::WriteDhtDataFiles() {
  if (RegionDataFile.empty()) RegionDataFile = DefaultPath("region.dat.r");
  if (!WriteQueryToFile(RegionDataFile, QueryName("_DhtRegion"))) return false;
  if (SampleDataFile.empty()) SampleDataFile = DefaultPath("sample.dat.r");
  if (!WriteQueryToFile(SampleDataFile, QueryName("_DhtSample"))) return false;
  if (ObsDataFile.empty()) ObsDataFile = DefaultPath("obs.dat.r");
  return WriteQueryToFile(ObsDataFile, QueryName("_DhtObs"));
}

bool CClsDataFileMaker::Impl::WriteQueryToFile(const std::string& strFileName,
                                               const std::string& strQueryName) {
  enum class Phase { kQuery, kOpen, kWrite, kClose };
  Phase phase = Phase::kQuery;
  std::unique_ptr<host::WritableFile> file;
  try {
    std::unique_ptr<host::dao::Recordset> rs =
        Data().OpenRecordset(strQueryName, host::dao::kOpenDynaset);
    Required(rs);

    phase = Phase::kOpen;
    file = host::CurrentServices().Files().NewWritableFile(strFileName);
    Required(file);

    phase = Phase::kWrite;
    const int count = rs->FieldCount();
    if (count == 0) throw host::HostError(5, "The query '" + strQueryName + "' has no columns");
    std::vector<host::dao::Field*> fields(count);
    std::vector<std::string> names(count);
    std::string line;
    for (int i = 0; i < count; ++i) {
      fields[i] = &rs->Fields(i);
      names[i] = fields[i]->Name();
      for (char& c : names[i])
        if (c == '_') c = '.';
      line += names[i];
      line += '\t';
    }
    line.back() = '\r';
    line += '\n';
    file->Append(line);

    std::vector<bool> replaced(count, false);
    rs->MoveFirst();
    while (!rs->Eof()) {
      line.clear();
      for (int i = 0; i < count; ++i) {
        const host::Value value = fields[i]->GetValue();
        if (!host::IsNull(value)) {
          if (IsNumberType(fields[i]->Type())) {
            AppendNumber(line, value);
          } else if (AppendText(line, value)) {
            replaced[i] = true;
          }
        }
        line += '\t';
      }
      line.back() = '\r';
      line += '\n';
      file->Append(line);
      rs->MoveNext();
    }
    rs->Close();

    phase = Phase::kClose;
    file->Close();
    file.reset();

    std::string columns;
    for (int i = 0; i < count; ++i) {
      if (!replaced[i]) continue;
      if (!columns.empty()) columns += ", ";
      columns += names[i];
    }
    if (!columns.empty()) {
      LogAdd("Text values in column(s) " + columns + " of the data file '" + strFileName +
                 "' held tabs or line breaks; each was replaced by a blank.",
             1);
    }
    return true;
  } catch (...) {
    switch (phase) {
      case Phase::kQuery:
        LogAdd(
            "Encountered a problem while executing the data creating query '" + strQueryName + "'.",
            2);
        break;
      case Phase::kOpen:
        LogAdd("Encountered a problem while trying to open the data file '" + strFileName +
                   "' for output.",
               2);
        break;
      case Phase::kWrite:
        LogAdd("Encountered a problem while writing to the data file '" + strFileName + "'", 2);
        break;
      case Phase::kClose:
        // Written data may first meet a full disk when the file is closed.
        LogAdd("Encountered a problem while closing the data file '" + strFileName + "'.", 2);
        break;
    }
  }
  // After a failure: close the file if it is open and delete it (a file of
  // that name left from an earlier run goes too); errors here are ignored.
  if (file) {
    try {
      file->Close();
    } catch (...) {
    }
    file.reset();
  }
  try {
    host::CurrentServices().Files().DeleteFile(strFileName);
  } catch (...) {
  }
  return false;
}

}  // namespace pramble
