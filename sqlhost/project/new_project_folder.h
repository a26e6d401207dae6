// The atomic build of a new project folder: the databases are written in a
// hidden sibling folder (".<name>.creating-<random>") that is renamed to the
// project folder at the end, without replacing anything, so that on any
// failure nothing is left behind and no half-built project is ever seen.
//
//   CheckNewProjectFolder(dir);
//   BuildProjectFolder(dir, [&](const std::string& folder) { Write(folder); });
#pragma once

#include <functional>
#include <string>

namespace pramble::sqlhost {

// `dir` without trailing '/' (a lone "/" stays).
std::string StripTrailingSlashes(std::string dir);

// Throws ProjectError unless `dir` can become a new project folder: kExists
// when it exists, kCannotWrite when it is empty or its parent folder is missing.
void CheckNewProjectFolder(const std::string& dir);

// Makes the hidden sibling folder of `dir`, lets `fill` write the project's
// files into it, and renames it to `dir`. A host::HostError from `fill`, a
// folder that cannot be made and a rename that fails throw ProjectError
// (kExists when `dir` appeared meanwhile, else kCannotWrite) naming `dir`;
// the hidden folder is removed on every failure.
void BuildProjectFolder(const std::string& dir,
                        const std::function<void(const std::string& folder)>& fill);

}  // namespace pramble::sqlhost
