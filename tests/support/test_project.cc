#include "support/test_project.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "sqlhost/project/csv_reader.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/event_loop.h"
#include "pramble/host/services.h"
#include "sqlhost/services/default_services.h"

namespace fs = std::filesystem;

namespace pramble::testing {

std::unique_ptr<TestProject> TestProject::FromJson(const nlohmann::json& description,
                                                   const std::string& base_dir) {
  std::unique_ptr<TestProject> tp(new TestProject());
  tp->temp_ = std::make_unique<TempDir>();
  tp->dir_ = (fs::path(tp->temp_->path()) / "project").string();
  sqlhost::CreateProjectFromJson(tp->dir_, description,
                                 base_dir.empty() ? tp->temp_->path() : base_dir);
  tp->loop_ = std::make_unique<sqlhost::EventLoop>();
  tp->services_ = std::make_unique<sqlhost::DefaultServices>(*tp->loop_);
  tp->project_ = sqlhost::Project::Open(tp->dir_);
  tp->installed_ = std::make_unique<host::ScopedServices>(tp->services_.get());
  return tp;
}

std::unique_ptr<TestProject> TestProject::FromExample() {
  return FromJson(ExampleDescription());
}

TestProject::~TestProject() = default;

nlohmann::json ExampleDescription() {
  const fs::path dir = fs::path(PRAMBLE_EXAMPLES_DIR) / "double-observer";
  nlohmann::json d = nlohmann::json::parse(ReadFile((dir / "project.json").string()));
  for (auto& layer : d["layers"]) {
    if (!layer.contains("csv")) continue;
    const std::string csv = (dir / layer["csv"].get<std::string>()).string();
    std::vector<std::vector<std::string>> rows;
    for (auto& record : sqlhost::ReadCsvFile(csv, csv)) rows.push_back(std::move(record.cells));
    const auto header = rows.at(0);
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t r = 1; r < rows.size(); ++r) {
      nlohmann::json row = nlohmann::json::array();
      for (const auto& field : layer["fields"]) {
        const std::string name = field["name"];
        std::size_t col = 0;
        while (col < header.size() && header[col] != name) ++col;
        const std::string cell = col < header.size() ? rows[r].at(col) : "";
        const std::string kind = field["kind"];
        if (cell.empty()) row.push_back(nullptr);
        else if (kind == "id" || kind == "link" || kind == "integer") row.push_back(std::stoll(cell));
        else if (kind == "decimal") row.push_back(std::stod(cell));
        else row.push_back(cell);
      }
      out.push_back(row);
    }
    layer.erase("csv");
    layer["rows"] = out;
  }
  return d;
}

}  // namespace pramble::testing
