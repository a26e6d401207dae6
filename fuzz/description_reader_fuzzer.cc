// libFuzzer target for the project description reader: the input is written
// to a description file and `CreateProject` makes a project folder from it in
// a scratch folder, as `pramble create` does.
//
// A description may be refused only with DescriptionError or ProjectError,
// each with a message; any other exception is a finding. A refused
// description leaves nothing behind in the scratch folder; an accepted one
// leaves exactly the project folder (removed again here).
//
// To keep the target fast and inside its scratch folder, inputs whose "csv"
// members name anything but a plain file name are passed over (a plain name
// resolves against the scratch folder, where it finds no CSV file or the
// description itself).
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "sqlhost/project/description.h"
#include "sqlhost/project/project_error.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Broken(const std::string& what, const std::string& text) {
  std::fprintf(stderr, "description reader: %s\ndescription: %s\n", what.c_str(), text.c_str());
  std::abort();
}

// A scratch folder in memory when there is one: pramble-fuzz-<process ID>,
// made once per process and removed when the process exits normally. A
// finding ends the process without destructors, so each start first removes
// the folders of processes that are gone.
class ScratchFolder {
 public:
  ScratchFolder() {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::error_code ec;
    for (auto it = fs::directory_iterator(base, ec); !ec && it != fs::directory_iterator(); ++it) {
      const std::string name = it->path().filename().string();
      if (name.rfind("pramble-fuzz-", 0) != 0) continue;
      const std::string pid = name.substr(13);
      if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
      if (::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH)
        fs::remove_all(it->path(), ec);
    }
    path_ = base / ("pramble-fuzz-" + std::to_string(::getpid()));
    fs::remove_all(path_, ec);
    if (!fs::create_directory(path_, ec)) std::abort();
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

const fs::path& Scratch() {
  static const ScratchFolder folder;
  return folder.path();
}

// True when some "csv" member anywhere names more than a plain file name.
bool NamesOtherFiles(const nlohmann::json& j) {
  if (j.is_object()) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (it.key() == "csv" && it->is_string()) {
        const std::string name = it->get<std::string>();
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
          return true;
      }
      if (NamesOtherFiles(*it)) return true;
    }
  } else if (j.is_array()) {
    for (const auto& e : j)
      if (NamesOtherFiles(e)) return true;
  }
  return false;
}

std::size_t Entries(const fs::path& dir) {
  std::size_t n = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2048) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_discarded() && NamesOtherFiles(parsed)) return 0;

  const fs::path& scratch = Scratch();
  const fs::path description = scratch / "project.json";
  const fs::path project = scratch / "project";
  {
    std::ofstream out(description, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  bool created = false;
  try {
    pramble::sqlhost::CreateProject(project.string(), description.string());
    created = true;
  } catch (const pramble::sqlhost::DescriptionError& e) {
    if (std::string(e.what()).empty()) Broken("a refusal without a message", text);
  } catch (const pramble::sqlhost::ProjectError& e) {
    if (std::string(e.what()).empty()) Broken("a refusal without a message", text);
  } catch (const std::exception& e) {
    Broken(std::string("an exception that is no refusal: ") + e.what(), text);
  }
  if (created) {
    if (!fs::is_directory(project)) Broken("accepted, but no project folder", text);
    fs::remove_all(project);
  }
  if (Entries(scratch) != 1) Broken("something was left behind in the scratch folder", text);
  return 0;
}
