// Creating a project folder from a project description (the JSON format of
// docs/project-description.md): the layers with their fields and rows (inline
// or from CSV files), the settings, the definitions and the analysis items.
//
// The description is checked before anything is written, CSV files up to
// their headers; then the two databases are built in a hidden sibling folder
// that is renamed to `dir` at the end, the rows of CSV files checked as they
// stream in, so that on any failure nothing is left behind.
//
//   pramble::sqlhost::CreateProject("surveys/seabirds", "seabirds/project.json");
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "sqlhost/project/project_error.h"

namespace pramble::sqlhost {

// Creates project folder `dir` (which must not exist) from the description
// file at `description_path`; CSV paths resolve against the file's folder.
// Throws DescriptionError (the message names the file, the line or JSON path
// and the field at fault, and says what is wrong) or ProjectError (kExists when
// `dir` exists, kCannotWrite when it cannot be made).
void CreateProject(const std::string& dir, const std::string& description_path);

// The same from a parsed description; CSV paths resolve against `base_dir`
// ("" for the current folder). Messages start with the JSON path.
void CreateProjectFromJson(const std::string& dir, const nlohmann::json& description,
                           const std::string& base_dir);

// The JSON of the file at `path`; `what` names it in messages ("the project
// description"). Throws DescriptionError naming the file, and the line and
// column of a syntax error.
nlohmann::json ReadDescriptionFile(const std::string& path, const std::string& what);

namespace description {
struct Problem;
}
// "FILE: PATH: WHAT", "PATH: WHAT" or "PLACE: WHAT" for a problem found in
// the description read from `file` ("" for none).
std::string ProblemMessage(const description::Problem& p, const std::string& file);

}  // namespace pramble::sqlhost
