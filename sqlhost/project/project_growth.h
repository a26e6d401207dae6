// A project grows after it was created: definitions and analysis items come
// from a fragment of a project description (the sections surveys,
// data_filters, model_definitions and analyses, checked as at create, all or
// nothing), or one model definition comes with an item that uses another
// item's survey and data filter; an item goes with the definitions that no
// other item uses.
//
// The callers hold the locks (the command line takes the item locks that a
// run takes); each change is one transaction of the project database.
//
//   auto added = AddFragmentFile(*project, "more-models.json");
//   std::int32_t id = AddModelItem(*project, "Method io; ...", "io hr", 1);
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/project/description_reader.h"
#include "sqlhost/project/project.h"

namespace pramble::sqlhost {

// The project's layers (fields with their units, no rows), definitions and
// analyses as a description holds them.
description::Description DescriptionOf(Project& project);

// What an addition made: the new analysis items' IDs and how many
// definitions came with them.
struct Additions {
  std::vector<std::int32_t> analyses;
  std::size_t definitions = 0;
};

// Adds what `fragment` holds; `file` names it in messages. Throws
// DescriptionError (nothing is changed) when a part fails a check.
Additions AddFragment(Project& project, const nlohmann::json& fragment, const std::string& file);
// The same from a JSON file.
Additions AddFragmentFile(Project& project, const std::string& path);

// Adds model definition `definition` (named `name`, or after its method and
// key when empty) and an analysis item that uses it with the survey and data
// filter of item `like` (the lowest item when nullopt); answers the new
// item's ID. Throws DescriptionError for a definition that fails a check and
// ProjectError when `like` does not exist.
std::int32_t AddModelItem(Project& project, const std::string& definition, std::string name,
                          std::optional<std::int32_t> like);

// Deletes analysis item `id` and the definitions that no other item uses;
// answers what it deleted ("model definition 3 'io, hr'", ...). The item's
// results are the caller's to reset first.
std::vector<std::string> DeleteItem(Project& project, std::int32_t id);

}  // namespace pramble::sqlhost
