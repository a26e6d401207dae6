// Tables for people and for programs: the same rows printed as aligned
// plain text, as CSV (RFC 4180), as JSON (an array of objects keyed by the
// column names) or as an HTML table. A cell is a text, a number or empty:
// numbers go to CSV and JSON at full precision (the shortest text that reads
// back as the same double; JSON numbers) and to text and HTML rounded to the
// column's significant digits; an empty cell is "" or JSON null. The demo
// and the estimates, compare and report commands print with it; commands
// that print tables take the --format group (command_table.h).
//
//   TablePrinter table({{"item", 4, Align::kRight}, {"region", 6}, {"estimate", 8, Align::kRight}});
//   table.AddRow({"1", "North", WithThousands(1234.4)});
//   table.Print(std::cout, OutputFormat::kText);
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

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
  // Significant digits of numbers in text and HTML; 0: full precision.
  int digits = 0;
};

using Cell = std::variant<std::monostate, std::string, double>;

// `text` with &, <, > and " written as HTML entities.
std::string HtmlEscaped(const std::string& text);

// An optional number as a cell.
Cell NumberCell(const std::optional<double>& value);

class TablePrinter {
 public:
  explicit TablePrinter(std::vector<Column> columns) : columns_(std::move(columns)) {}

  // A row has a cell per column.
  void AddRow(const std::vector<std::string>& cells) {
    AddCells(std::vector<Cell>(cells.begin(), cells.end()));
  }
  void AddCells(std::vector<Cell> cells) { rows_.push_back(std::move(cells)); }

  // Plain text: the header and the rows, the cells two blanks apart, the
  // last column unpadded when it is left-aligned. CSV: the header and the
  // rows. JSON: one object per row, the cells as strings.
  void Print(std::ostream& out, OutputFormat format) const;
  // The rows as PrintJson prints them.
  nlohmann::ordered_json JsonRows() const;
  // A <table> with a header row; texts escaped, numbers right-aligned.
  void PrintHtml(std::ostream& out) const;

 private:
  void PrintText(std::ostream& out) const;
  void PrintCsv(std::ostream& out) const;
  void PrintJson(std::ostream& out) const;

  std::vector<Column> columns_;
  std::string Text(const Cell& cell, std::size_t column) const;

  std::vector<std::vector<Cell>> rows_;
};

}  // namespace pramble::cli
