#include "sqlhost/project/csv_reader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sqlhost/project/project_error.h"

namespace pramble::sqlhost {

std::vector<CsvRecord> ParseCsv(const std::string& text, const std::string& display) {
  auto fail = [&](int line, const std::string& problem) {
    throw DescriptionError(display + ":" + std::to_string(line) + ": " + problem);
  };
  std::vector<CsvRecord> records;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
  int line = 1;
  while (i < n) {
    CsvRecord rec;
    rec.line = line;
    // A blank line holds no record.
    if (text[i] == '\n' || (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')) {
      i += text[i] == '\r' ? 2 : 1;
      ++line;
      continue;
    }
    bool end_of_record = false;
    while (!end_of_record) {
      std::string cell;
      if (i < n && text[i] == '"') {
        const int start_line = line;
        ++i;
        for (;;) {
          if (i >= n) fail(start_line, "a quoted cell is not closed (a '\"' is missing)");
          const char c = text[i++];
          if (c == '"') {
            if (i < n && text[i] == '"') {
              cell += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          cell += c;
        }
        if (i < n && text[i] != ',' && text[i] != '\n' &&
            !(text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') &&
            !(text[i] == '\r' && i + 1 == n)) {
          fail(line, "a closing '\"' must be followed by ',' or the end of the line");
        }
      } else {
        while (i < n && text[i] != ',' && text[i] != '\n') {
          if (text[i] == '\r' && (i + 1 == n || text[i + 1] == '\n')) break;
          if (text[i] == '"') {
            fail(line, "a '\"' inside an unquoted cell (quote the whole cell and double the '\"')");
          }
          cell += text[i++];
        }
      }
      rec.cells.push_back(std::move(cell));
      if (i >= n) {
        end_of_record = true;
      } else if (text[i] == ',') {
        ++i;
      } else {
        if (text[i] == '\r') ++i;
        if (i < n && text[i] == '\n') ++i;
        ++line;
        end_of_record = true;
      }
    }
    records.push_back(std::move(rec));
  }
  return records;
}

std::vector<CsvRecord> ReadCsvFile(const std::string& path, const std::string& display) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw DescriptionError(display + ": cannot read the file: " + std::strerror(errno));
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) {
    throw DescriptionError(display + ": cannot read the file: " + std::strerror(errno));
  }
  return ParseCsv(buf.str(), display);
}

}  // namespace pramble::sqlhost
