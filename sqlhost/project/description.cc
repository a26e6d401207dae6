#include "sqlhost/project/description.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "sqlhost/project/description_reader.h"
#include "sqlhost/project/description_writer.h"
#include "sqlhost/project/new_project_folder.h"
#include "sqlhost/project/file_names.h"
#include "sqlhost/project/schema.h"

namespace pramble::sqlhost {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using description::Description;
using description::Problem;
using description::ReadDescription;
using description::WriteDataDatabase;
using description::WriteProjectDatabase;

}  // namespace

std::string ProblemMessage(const description::Problem& p, const std::string& file) {
  std::string where = p.where;
  if (p.json_path && !file.empty()) where = where.empty() ? file : file + ": " + where;
  return where.empty() ? p.what : where + ": " + p.what;
}

namespace {

void CreateFrom(const std::string& dir, const json& description, const std::string& base_dir,
                const std::string& file) {
  CheckNewProjectFolder(StripTrailingSlashes(dir));
  try {
    const Description d = ReadDescription(description, base_dir);
    // The rows of CSV files are checked as they are written; a row at fault
    // ends the build, and the half-built folder goes.
    BuildProjectFolder(dir, [&d](const std::string& folder) {
      WriteProjectDatabase(ProjectDatabaseFile(folder), d);
      WriteDataDatabase(DataDatabaseFile(folder), d);
    });
  } catch (const Problem& p) {
    throw DescriptionError(ProblemMessage(p, file));
  }
}

// nlohmann's DOM parser that notes where the parse stopped: its out_of_range
// error for a number too large for a double carries no position.
class PlacingJsonParser : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  PlacingJsonParser(json& root, std::size_t& stopped_at)
      : json_sax_dom_parser(root, /*allow_exceptions=*/true), stopped_at_(stopped_at) {}
  template <class Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& e) {
    stopped_at_ = position;
    return json_sax_dom_parser::parse_error(position, token, e);
  }

 private:
  std::size_t& stopped_at_;
};

}  // namespace

void CreateProjectFromJson(const std::string& dir, const json& description,
                           const std::string& base_dir) {
  CreateFrom(dir, description, base_dir, "");
}

json ReadDescriptionFile(const std::string& path, const std::string& what) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    throw DescriptionError(path + ": " + what + " does not exist");
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buf;
  if (in) buf << in.rdbuf();
  if (!in || !fs::is_regular_file(path, ec)) {
    throw DescriptionError(path + ": cannot read " + what + ": " +
                           std::strerror(errno ? errno : EISDIR));
  }
  const std::string text = buf.str();
  json description;
  std::size_t stopped_at = 0;
  try {
    PlacingJsonParser parser(description, stopped_at);
    json::sax_parse(text, &parser);
  } catch (const json::exception& e) {
    // The 1-based position of the last byte read: parse errors carry it, and
    // the parser notes it for the others (a number too large for a double).
    const auto* syntax = dynamic_cast<const json::parse_error*>(&e);
    const std::size_t byte = syntax != nullptr ? syntax->byte : stopped_at;
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    std::string detail = e.what();
    const auto colon = detail.find(": ", detail.find("column"));
    if (colon != std::string::npos) {
      detail = detail.substr(colon + 2);
    } else if (const auto bracket = detail.find("] ");
               detail.rfind("[json.", 0) == 0 && bracket != std::string::npos) {
      detail = detail.substr(bracket + 2);
    }
    throw DescriptionError(path + ":" + std::to_string(line) + ":" +
                           std::to_string(column) + ": JSON " +
                           (syntax != nullptr ? "syntax error: " : "error: ") + detail);
  }
  return description;
}

void CreateProject(const std::string& dir, const std::string& description_path) {
  const json description = ReadDescriptionFile(description_path, "the project description");
  std::string base = fs::path(description_path).parent_path().string();
  CreateFrom(dir, description, base, description_path);
}

}  // namespace pramble::sqlhost
