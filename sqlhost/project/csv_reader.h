// Reads a comma-separated file as a project description names it: a header
// row, then one record per row, with standard CSV quoting (a quoted cell may
// hold commas, line breaks and doubled quotes). Lines end in LF or CR LF; a
// UTF-8 byte order mark at the start is skipped; blank lines are skipped.
#pragma once

#include <string>
#include <vector>

namespace pramble::sqlhost {

struct CsvRecord {
  int line = 0;  // 1-based line on which the record starts
  std::vector<std::string> cells;
};

// Parses `text`. Throws DescriptionError "DISPLAY:LINE: PROBLEM" for bad
// quoting (a quote inside an unquoted cell, text after a closing quote, a
// quoted cell that never ends).
std::vector<CsvRecord> ParseCsv(const std::string& text, const std::string& display);

// Reads and parses the file at `path`; messages name it as `display`.
// Throws DescriptionError when it cannot be read.
std::vector<CsvRecord> ReadCsvFile(const std::string& path, const std::string& display);

}  // namespace pramble::sqlhost
