// Reads a comma-separated file as a project description names it: a header
// row, then one record per row, with standard CSV quoting (a quoted cell may
// hold commas, line breaks and doubled quotes). Lines end in LF or CR LF; a
// UTF-8 byte order mark at the start is skipped; blank lines are skipped.
//
// CsvReader reads one record at a time through a fixed buffer, so a file of
// any size takes the same memory:
//
//   CsvReader in(path, "transects.csv");
//   for (CsvRecord rec; in.Next(rec);) Use(rec.line, rec.cells);
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace pramble::sqlhost {

struct CsvRecord {
  int line = 0;  // 1-based line on which the record starts
  std::vector<std::string> cells;
};

class CsvReader {
 public:
  // Opens the file at `path`; messages name it as `display`. Throws
  // DescriptionError "DISPLAY: cannot read the file: ..." when it cannot.
  CsvReader(const std::string& path, const std::string& display);
  // Reads `text` itself.
  static CsvReader FromText(std::string text, const std::string& display);
  ~CsvReader();
  CsvReader(CsvReader&& other) noexcept;
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;
  CsvReader& operator=(CsvReader&&) = delete;

  // The next record into `rec` (its cells' storage is reused); false at the
  // end. Throws DescriptionError "DISPLAY:LINE: PROBLEM" for bad quoting (a
  // quote inside an unquoted cell, text after a closing quote, a quoted cell
  // that never ends) and for a read that fails.
  bool Next(CsvRecord& rec);

 private:
  CsvReader(std::FILE* file, std::string text, std::string display);
  // At least `n` bytes from pos_ in the buffer unless the input ends first;
  // answers whether they are there.
  bool Have(std::size_t n);
  // The byte at pos_ + k, or -1 past the end of the input.
  int At(std::size_t k) { return Have(k + 1) ? static_cast<unsigned char>(buf_[pos_ + k]) : -1; }
  // At the end of a line: "\n", "\r\n", or "\r" as the input's last byte.
  bool AtLineEnd();
  void SkipLineEnd();
  [[noreturn]] void Fail(int line, const std::string& problem) const;
  void ReadQuoted(std::string& cell);
  void ReadPlain(std::string& cell);

  std::FILE* file_;
  std::string buf_;
  std::size_t pos_ = 0;
  std::string display_;
  int line_ = 1;
};

// Every record of `text`, with the errors of CsvReader::Next.
std::vector<CsvRecord> ParseCsv(const std::string& text, const std::string& display);

// Every record of the file at `path`; messages name it as `display`.
std::vector<CsvRecord> ReadCsvFile(const std::string& path, const std::string& display);

}  // namespace pramble::sqlhost
