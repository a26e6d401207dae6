#include "sqlhost/util/file_system.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "pramble/host/errors.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

namespace fs = std::filesystem;
using pramble::testing::Failure;
using pramble::testing::ReadFile;
using pramble::testing::ScopedEnv;
using pramble::testing::TempDir;
using pramble::testing::WriteFile;

// Runs `check` where file permissions hold: in this process, or, when the
// tests run as root (whom permissions do not stop), in a child process that
// has become the user "nobody" and owns `folder`. Answers check()'s answer:
// 0 when every check held, else the number of the first that failed.
int WherePermissionsHold(const TempDir& folder, const std::function<int()>& check) {
  if (::geteuid() != 0) return check();
  constexpr uid_t kNobody = 65534;
  if (::chown(folder.path().c_str(), kNobody, kNobody) != 0) return 100;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(101);
    ::_exit(check());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 102;
  return WEXITSTATUS(status);
}

TEST(FileSystemTest, TempFoldersAreNewUnpredictableAndPrivate) {
  TempDir area;
  PosixFileSystem files;
  {
    ScopedEnv tmpdir("TMPDIR", area.path() + "/");
    const std::string first = files.GetTempFolderName();
    EXPECT_TRUE(std::regex_match(first.substr(area.path().size()),
                                 std::regex("/pramble-[0-9a-f]{16}")))
        << first;
    EXPECT_EQ(first.substr(0, area.path().size()), area.path());
    EXPECT_NE(first, files.GetTempFolderName());
    EXPECT_FALSE(fs::exists(first));
    ASSERT_TRUE(files.CreateFolder(first));
    EXPECT_EQ(fs::status(first).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(files.CreateFolder(first)) << "an existing folder is not new";
  }
  WriteFile(area / "file", "");
  for (const std::string& missing : {area / "missing", area / "file"}) {
    ScopedEnv tmpdir("TMPDIR", missing);
    EXPECT_EQ(files.GetTempFolderName(), "") << missing;
  }
  EXPECT_EQ(WherePermissionsHold(area, [&] {
              if (::chmod(area.path().c_str(), 0500) != 0) return 1;
              ScopedEnv tmpdir("TMPDIR", area.path());
              return files.GetTempFolderName() == "" ? 0 : 2;
            }),
            0);
}

// `text` of tests/data/host_util/file_system.tsv as meant: "<area>" and
// "<other>" the test's folders, "\t", "\r", "\n" and "\0" those characters,
// "<N x TEXT>" N times TEXT.
std::string Decode(const std::string& raw, const TempDir& area, const TempDir& other) {
  std::string text = pramble::testing::Fill(raw, {{"<area>", area.path()}, {"<other>", other.path()},
                                                  {"\\t", "\t"}, {"\\r", "\r"}, {"\\n", "\n"},
                                                  {"\\0", std::string(1, '\0')}});
  std::smatch m;
  while (std::regex_search(text, m, std::regex("<([0-9]+) x ([^>]*)>"))) {
    std::string repeated;
    for (int i = std::stoi(m[1]); i > 0; --i) repeated += m[2];
    text.replace(m.position(0), m.length(0), repeated);
  }
  return text;
}

// Each step of tests/data/host_util/file_system.tsv (op, path, text,
// expected) on the real file system: what the step gave, a HostError as
// "<number>: <description>", or "no error" for calls that answer nothing.
TEST(FileSystemTest, StepsFromFile) {
  TempDir area, other;
  PosixFileSystem files;
  std::unique_ptr<host::WritableFile> writable;
  auto step = [&](const std::string& op, const std::string& path, const std::string& text) {
    auto yes = [](bool b) { return std::string(b ? "true" : "false"); };
    if (op == "put") WriteFile(path, text);
    else if (op == "mkdirs") fs::create_directories(path);
    else if (op == "link") fs::create_symlink(path, text);
    else if (op == "get") return ReadFile(path);
    else if (op == "exists") return std::string(fs::exists(path) ? "yes" : "no");
    else if (op == "display") return files.GetDisplayPath(path, text);
    else if (op == "mkdir") return yes(files.CreateFolder(path));
    else if (op == "write") return yes(files.WriteTextFile(path, text));
    else if (op == "rmdir") return yes(files.DeleteFolder(path, text == "force"));
    else if (op == "read") {
      std::string read = "stale";
      return yes(files.ReadTextFile(path, read)) + ":" + read;
    } else if (op == "lines" || op == "list") {
      std::vector<std::string> lines;
      const std::string failure = Failure([&] {
        if (op == "list") lines = files.ListFiles(path);
        auto reader = op == "lines" ? files.NewLineReader(path) : nullptr;
        for (std::string line; reader && reader->ReadLine(line);) lines.push_back(line);
      });
      if (op == "list") std::sort(lines.begin(), lines.end());
      std::string joined;
      for (const auto& line : lines) joined += (joined.empty() ? "" : op == "list" ? ", " : " | ") + line;
      return failure == "no error" ? joined : failure;
    } else if (op == "open") return Failure([&] { writable = files.NewWritableFile(path); });
    else if (op == "append")
      return Failure([&] { for (int i = std::stoi(path); i > 0; --i) writable->Append(text); });
    else if (op == "close") return Failure([&] { writable->Close(); });
    else if (op == "delete") return Failure([&] { files.DeleteFile(path); });
    else return "unknown step " + op;
    return std::string();
  };
  for (auto row : pramble::testing::ReadTable("host_util/file_system.tsv")) {
    row.resize(4);
    SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2].substr(0, 60));
    EXPECT_EQ(step(row[0], Decode(row[1], area, other), Decode(row[2], area, other)),
              Decode(row[3], area, other));
  }
}

// Where permissions bind (see WherePermissionsHold): a file in a read-only
// folder cannot be written, and only a forced delete takes a read-only
// subfolder.
TEST(FileSystemTest, ReadOnlyFolders) {
  TempDir area;
  PosixFileSystem files;
  EXPECT_EQ(WherePermissionsHold(area, [&] {
              const std::string folder = area / "ro";
              if (::mkdir(folder.c_str(), 0500) != 0) return 1;
              if (files.WriteTextFile(folder + "/f", "text")) return 2;
              if (Failure([&] { files.NewWritableFile(folder + "/f"); }) !=
                  "75: cannot open file for writing '" + folder + "/f': Permission denied")
                return 3;
              const std::string cmd = area / "cmd";
              if (::mkdir(cmd.c_str(), 0700) != 0 || ::mkdir((cmd + "/ro").c_str(), 0700) != 0)
                return 4;
              WriteFile(cmd + "/ro/f", "x");
              if (::chmod((cmd + "/ro").c_str(), 0500) != 0) return 5;
              if (files.DeleteFolder(cmd, false) || !fs::exists(cmd + "/ro/f")) return 6;
              return files.DeleteFolder(cmd, true) && !fs::exists(cmd) ? 0 : 7;
            }),
            0);
}

}  // namespace
}  // namespace pramble::sqlhost
