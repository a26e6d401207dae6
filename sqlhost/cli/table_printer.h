// Tables for people and for programs: the same rows printed as aligned
// plain text, as CSV (RFC 4180) or as JSON (an array of objects keyed by the
// column names). The demo prints its estimates with it; commands that print
// tables take the --format group (command_table.h).
//
//   TablePrinter table({{"item", 4, Align::kRight}, {"region", 6}, {"estimate", 8, Align::kRight}});
//   table.AddRow({"1", "North", WithThousands(1234.4)});
//   table.Print(std::cout, OutputFormat::kText);
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "sqlhost/cli/command_table.h"

namespace pramble::cli {

// `text` padded with blanks to `width` (left-aligned, or right-aligned with
// `right`); unchanged when it is as wide already.
std::string Pad(const std::string& text, std::size_t width, bool right = false);

// `value` rounded to a whole number with a comma between thousands: "12,345".
std::string WithThousands(double value);

enum class Align { kLeft, kRight };

struct Column {
  std::string name;
  // Plain text: the cells are padded to this width; 0: to the widest cell
  // of the column (the header too).
  std::size_t width = 0;
  Align align = Align::kLeft;
};

class TablePrinter {
 public:
  explicit TablePrinter(std::vector<Column> columns) : columns_(std::move(columns)) {}

  // A row has a cell per column.
  void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

  // Plain text: the header and the rows, the cells two blanks apart, the
  // last column unpadded when it is left-aligned. CSV: the header and the
  // rows. JSON: one object per row, the cells as strings.
  void Print(std::ostream& out, OutputFormat format) const;

 private:
  void PrintText(std::ostream& out) const;
  void PrintCsv(std::ostream& out) const;
  void PrintJson(std::ostream& out) const;

  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace pramble::cli
