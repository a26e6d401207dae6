#include "sqlhost/cli/report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "sqlhost/analysis/comparison.h"
#include "sqlhost/analysis/estimates.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/cli/analysis_tables.h"
#include "sqlhost/cli/table_printer.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/file_names.h"
#include "sqlhost/project/project_growth.h"

namespace pramble::cli {
namespace {

using sqlhost::description::DefinitionSpec;

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 2em; color: #222; max-width: 110em; }
h1 { font-size: 1.6em; } h2 { border-bottom: 1px solid #999; margin-top: 2em; }
.wide { overflow-x: auto; }
table { border-collapse: collapse; margin: 0.5em 0 1em; font-size: 0.9em; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; }
th { background: #eee; } td.num { text-align: right; font-variant-numeric: tabular-nums; }
dl { display: grid; grid-template-columns: max-content auto; gap: 0.2em 1em; }
dt { font-weight: bold; } dd { margin: 0; }
.fit { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }
figure { margin: 0; } figure img { width: 420px; border: 1px solid #ccc; }
figcaption { font-size: 0.8em; color: #555; }
pre { background: #f6f6f6; padding: 0.5em; white-space: pre-wrap; }
.warn { color: #8a4b00; }
)";

host::Command CommandOf(const std::string& definition, const std::string& name) {
  return sqlhost::TextDefinitionReader().GetCommand(definition, name);
}

using sqlhost::OptionOf;

std::string MethodWords(const std::string& method) {
  static const std::map<std::string, std::string> words = {
      {"ds", "single observer (conventional distance sampling)"},
      {"io", "two independent observers, point independence"},
      {"io.fi", "two independent observers, full independence"},
      {"trial", "trial configuration (observer 2 sets up trials for observer 1), point "
                "independence"},
      {"trial.fi", "trial configuration, full independence"},
      {"rem", "removal configuration, point independence"},
      {"rem.fi", "removal configuration, full independence"}};
  const auto it = words.find(method);
  return it == words.end() ? method : method + ": " + it->second;
}

std::string KeyWords(const std::string& key) {
  if (key == "hn") return "half-normal";
  if (key == "hr") return "hazard-rate";
  if (key == "unif") return "uniform";
  return key;
}

// The item's definitions as sentences, with what they mean for the fit.
std::vector<std::pair<std::string, std::string>> DefinitionsInWords(
    const std::string& model, const std::string& filter, const sqlhost::RunUnits& units) {
  std::vector<std::pair<std::string, std::string>> out;
  const std::string method = CommandOf(model, "Method").value;
  out.emplace_back("Method", MethodWords(method));
  const std::string key = OptionOf(model, "DSModel", "Key");
  out.emplace_back("Detection function",
                   KeyWords(key) + " key, covariates ~" +
                       OptionOf(model, "DSModel", "Formula", "1") + " (" +
                       OptionOf(model, "DSModel", "Method", "cds") + ")");
  if (CommandOf(model, "MRModel").found) {
    out.emplace_back("Mark-recapture model",
                     "~" + OptionOf(model, "MRModel", "Formula", "1") + " (" +
                         OptionOf(model, "MRModel", "Method", "glm") + ", link " +
                         OptionOf(model, "MRModel", "Link", "logit") + ")");
  }
  const std::string unit = units.distance.empty() ? "" : " " + sqlhost::UnitWords(units.distance);
  const std::string intervals = OptionOf(filter, "Distance", "Intervals");
  out.emplace_back("Distances",
                   OptionOf(filter, "Distance", "Left", "0") + " to " +
                       OptionOf(filter, "Distance", "Width", "?") + unit + ", " +
                       (intervals.empty() ? "exact" : "in intervals with cut points " + intervals));
  const std::string strata = CommandOf(model, "Stratification").value;
  out.emplace_back("Estimates", strata == "Stratify"        ? "by region and in total"
                                : strata == "Post-stratify" ? "post-stratified"
                                                            : "for the whole area");
  return out;
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void Figure(std::ostringstream& html, const std::filesystem::path& file, const std::string& mime,
            const std::string& caption) {
  html << "<figure><img alt=\"" << HtmlEscaped(caption) << "\" src=\"data:" << mime << ";base64,"
       << Base64(FileBytes(file)) << "\"><figcaption>" << HtmlEscaped(caption) << " ("
       << HtmlEscaped(file.filename().string()) << ")</figcaption></figure>\n";
}

std::string Stat(const sqlhost::RunRecord& r, std::int32_t code) {
  const std::optional<double> v = r.Stat(code);
  if (!v) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", *v);
  return buf;
}

void GoodnessOfFit(std::ostringstream& html, const sqlhost::RunRecord& r) {
  TablePrinter table({{"test"}, {"statistic"}, {"df"}, {"P"}});
  struct Test {
    const char* name;
    std::int32_t statistic, df, p;
  };
  const Test tests[] = {{"chi-square, total", 30, 31, 32},
                        {"chi-square, distances", 33, 34, 35},
                        {"chi-square, mark-recapture", 36, 37, 38},
                        {"Cramer-von Mises W", 39, 0, 40}};
  for (const Test& t : tests) {
    if (Stat(r, t.p).empty()) continue;
    table.AddRow({t.name, Stat(r, t.statistic), t.df ? Stat(r, t.df) : "", Stat(r, t.p)});
  }
  html << "<div><h4>Goodness of fit</h4>\n";
  table.PrintHtml(html);
  html << "<p>AIC " << Stat(r, 3) << ", " << Stat(r, 2) << " parameters, average p "
       << Stat(r, 4) << " (se " << Stat(r, 5) << ")</p></div>\n";
}

// Lines of the log that warn.
std::vector<std::string> Warnings(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::string lower = line;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("warning") != std::string::npos) out.push_back(line);
  }
  return out;
}

void ItemSection(std::ostringstream& html, sqlhost::Project& project,
                 const sqlhost::description::Description& d, std::int32_t id) {
  const sqlhost::ItemInfo item = *project.FindItem(id);
  const DefinitionSpec* survey = sqlhost::FindDefinition(d.surveys, item.survey_id);
  const DefinitionSpec* filter = sqlhost::FindDefinition(d.data_filters, item.data_filter_id);
  const DefinitionSpec* model =
      sqlhost::FindDefinition(d.model_definitions, item.model_definition_id);
  const std::optional<sqlhost::RunRecord> record = sqlhost::ReadRunRecord(project, id);
  const sqlhost::RunUnits units = record ? record->units : sqlhost::UnitsOfItem(project, id);
  html << "<section id=\"item-" << id << "\">\n<h2>Item " << id << ": " << HtmlEscaped(item.name)
       << "</h2>\n<p>Status " << item.status << " "
       << HtmlEscaped(sqlhost::Project::StatusText(item.status));
  if (!sqlhost::Project::FormatRunDate(item.run_date).empty())
    html << ", run " << sqlhost::Project::FormatRunDate(item.run_date);
  html << ". Units: " << HtmlEscaped(UnitsText(units)) << ".</p>\n<h3>Definitions</h3>\n<dl>\n";
  for (const auto& [term, words] :
       DefinitionsInWords(model ? model->definition : "", filter ? filter->definition : "", units))
    html << "<dt>" << HtmlEscaped(term) << "</dt><dd>" << HtmlEscaped(words) << "</dd>\n";
  html << "</dl>\n<details><summary>Definitions as written</summary><pre>";
  for (const DefinitionSpec* def : {survey, filter, model})
    if (def) html << HtmlEscaped(def->name) << ": " << HtmlEscaped(def->definition) << "\n";
  html << "</pre></details>\n";
  if (!record) {
    html << "<p>No estimates: the item has not been run, or its last run stored none.</p>\n"
         << "</section>\n";
    return;
  }
  html << "<h3>Estimates</h3>\n";
  EstimatesTable(*record).PrintHtml(html);
  html << "<h3>Detection function</h3>\n<div class=\"fit\">\n";
  GoodnessOfFit(html, *record);
  // Plots of a format a browser cannot show inline are named, not embedded.
  for (const std::string& name : sqlhost::PlotFilesOf(project.folder(), id)) {
    const std::optional<sqlhost::PlotFile> plot = sqlhost::ParsePlotFileName(name);
    const std::string caption = plot->kind == "qq" ? "Q-Q plot"
                                                   : "Detection function, page " +
                                                         std::to_string(plot->page);
    const std::string& ext = plot->extension;
    if (ext == "png" || ext == "jpeg" || ext == "jpg") {
      Figure(html, std::filesystem::path(project.folder()) / name,
             ext == "png" ? "image/png" : "image/jpeg", caption);
    } else {
      html << "<p>" << HtmlEscaped(caption) << ": " << HtmlEscaped(name) << "</p>\n";
    }
  }
  html << "</div>\n<h3>Warnings</h3>\n";
  const std::vector<std::string> warnings =
      Warnings(sqlhost::StoredResultText(project, id, "Log").value_or(""));
  if (warnings.empty()) html << "<p>None in the log.</p>\n";
  for (const std::string& w : warnings) html << "<p class=\"warn\">" << HtmlEscaped(w) << "</p>\n";
  html << "</section>\n";
}

}  // namespace

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string ReportHtml(sqlhost::Project& project, const std::vector<std::int32_t>& ids,
                       bool with_comparison) {
  const sqlhost::description::Description d = sqlhost::DescriptionOf(project);
  const std::string title = std::filesystem::path(project.folder()).filename().string();
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
       << HtmlEscaped(title) << ": analyses</title>\n<style>" << kStyle
       << "</style>\n</head>\n<body>\n<h1>Project " << HtmlEscaped(title) << "</h1>\n<p>"
       << HtmlEscaped(project.folder()) << "</p>\n";
  if (with_comparison) {
    html << "<h2 id=\"comparison\">Model comparison</h2>\n<p>AIC is compared only within a "
            "group: the same data and the same method.</p>\n";
    int number = 0;
    for (const sqlhost::ComparisonGroup& g : sqlhost::CompareItems(project, ids).groups) {
      html << "<h3>Group " << ++number << ": " << HtmlEscaped(g.label) << "</h3>\n";
      html << "<div class=\"wide\">\n";
      ComparisonTable(g).PrintHtml(html);
      html << "</div>\n";
    }
  }
  for (const std::int32_t id : ids) ItemSection(html, project, d, id);
  html << "</body>\n</html>\n";
  return html.str();
}

}  // namespace pramble::cli
