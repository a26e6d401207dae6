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

// The description of the HostError that `body` throws, after "<number>: ".
template <typename F>
std::string Failure(F&& body) {
  try {
    body();
  } catch (const host::HostError& e) {
    return std::to_string(e.number()) + ": " + e.description();
  }
  return "no error";
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
  for (const std::string& bad : {area / "no/such/parent", area / "file/sub", std::string()})
    EXPECT_FALSE(files.CreateFolder(bad)) << bad;
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

TEST(FileSystemTest, DisplayPath) {
  PosixFileSystem files;
  EXPECT_EQ(files.GetDisplayPath("/tmp/pramble-1", ""), "/tmp/pramble-1");
  EXPECT_EQ(files.GetDisplayPath("/p/x/in.r", "/p/"), "x/in.r");
  EXPECT_EQ(files.GetDisplayPath("/p", "/p"), ".");
  EXPECT_EQ(files.GetDisplayPath("/px/in.r", "/p"), "/px/in.r");
  EXPECT_EQ(files.PathSeparator(), "/");
}

TEST(FileSystemTest, WholeFilesKeepEveryByteAndFailuresAnswerFalse) {
  TempDir area;
  PosixFileSystem files;
  const std::string text = std::string("a\r\nb\n\0c", 7) + "ü" + std::string(200000, 'x');
  ASSERT_TRUE(files.WriteTextFile(area / "f.r", text));
  EXPECT_EQ(ReadFile(area / "f.r"), text);
  ASSERT_TRUE(files.WriteTextFile(area / "f.r", "short"));
  std::string read = "old";
  ASSERT_TRUE(files.ReadTextFile(area / "f.r", read));
  EXPECT_EQ(read, "short");
  ASSERT_TRUE(files.WriteTextFile(area / "empty", ""));
  ASSERT_TRUE(files.ReadTextFile(area / "empty", read));
  EXPECT_EQ(read, "");

  WriteFile(area / "file", "x");
  fs::create_directory(area / "dir");
  for (const std::string& bad :
       {area / "missing/f", area / "file/f", area / "dir", std::string("/dev/full")})
    EXPECT_FALSE(files.WriteTextFile(bad, "text")) << bad;
  for (const std::string& bad : {area / "missing", area / "file/f", area / "dir"}) {
    read = "stale";
    EXPECT_FALSE(files.ReadTextFile(bad, read)) << bad;
    EXPECT_EQ(read, "");
  }
  EXPECT_EQ(WherePermissionsHold(area, [&] {
              const std::string folder = area / "ro";
              if (::mkdir(folder.c_str(), 0500) != 0) return 1;
              if (files.WriteTextFile(folder + "/f", "text")) return 2;
              return Failure([&] { files.NewWritableFile(folder + "/f"); }) ==
                             "75: cannot open file for writing '" + folder +
                                 "/f': Permission denied"
                         ? 0
                         : 3;
            }),
            0);
}

TEST(FileSystemTest, WritableFileStreamsAndReportsAFullDisk) {
  TempDir area;
  PosixFileSystem files;
  auto file = files.NewWritableFile(area / "data.r");
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string line = "row\t" + std::to_string(i) + "\r\n";
    file->Append(line);
    expected += line;
  }
  file->Append(std::string(100000, 'y'));
  expected += std::string(100000, 'y');
  file->Close();
  file->Close();  // a second close does nothing
  EXPECT_EQ(ReadFile(area / "data.r"), expected);

  // /dev/full fails every write with ENOSPC: at Append once the buffer
  // fills, or at Close for what is still buffered.
  const std::string full = "75: cannot write file '/dev/full': No space left on device";
  auto small = files.NewWritableFile("/dev/full");
  small->Append("a short line\r\n");
  EXPECT_EQ(Failure([&] { small->Close(); }), full);
  auto big = files.NewWritableFile("/dev/full");
  EXPECT_EQ(Failure([&] {
              for (int i = 0; i < 100; ++i) big->Append(std::string(4096, 'z'));
            }),
            full);
  EXPECT_NO_THROW(big->Close()) << "the failure was already reported";
}

TEST(FileSystemTest, OpenFailuresNameTheFile) {
  TempDir area;
  PosixFileSystem files;
  const std::string missing = area / "missing";
  EXPECT_EQ(Failure([&] { files.NewWritableFile(missing + "/f"); }),
            "53: cannot open file for writing '" + missing + "/f': No such file or directory");
  EXPECT_EQ(Failure([&] { files.NewWritableFile(area.path()); }),
            "75: cannot open file for writing '" + area.path() + "': Is a directory");
  EXPECT_EQ(Failure([&] { files.NewLineReader(missing); }),
            "53: cannot open file for reading '" + missing + "': No such file or directory");
  EXPECT_TRUE(pramble::testing::Has(Failure([&] { files.DeleteFile(missing); }),
                                    ": cannot delete file '" + missing +
                                        "': No such file or directory"));
  EXPECT_THROW(files.ListFiles(missing), host::HostError);
}

TEST(FileSystemTest, LineReaderStripsLineEnds) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\n\r\nlast", {"a", "", "last"}},
      {"0012\t3.5\n0013 \t x\r", {"0012\t3.5", "0013 \t x"}},
      {std::string(200000, 'q') + "\nz", {std::string(200000, 'q'), "z"}},
  };
  TempDir area;
  PosixFileSystem files;
  for (const auto& [contents, expected] : cases) {
    WriteFile(area / "stat.r", contents);
    auto reader = files.NewLineReader(area / "stat.r");
    std::vector<std::string> lines;
    for (std::string line; reader->ReadLine(line);) lines.push_back(line);
    reader->Close();
    EXPECT_EQ(lines, expected);
  }
}

TEST(FileSystemTest, ListAndDeleteFilesButNothingOutside) {
  TempDir area, elsewhere;
  WriteFile(area / "ddf.12.01.png", "");
  WriteFile(area / "qq.12.01.png", "");
  fs::create_directory(area / "sub");
  WriteFile(elsewhere / "target", "kept");
  fs::create_symlink(elsewhere / "target", area / "link");
  PosixFileSystem files;
  auto names = files.ListFiles(area.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ddf.12.01.png", "link", "qq.12.01.png"}));
  files.DeleteFile(area / "ddf.12.01.png");
  files.DeleteFile(area / "link");
  EXPECT_FALSE(fs::exists(area / "ddf.12.01.png"));
  EXPECT_EQ(ReadFile(elsewhere / "target"), "kept");

  // A folder's tree goes; what its links point to stays.
  const std::string cmd = area / "cmd";
  fs::create_directories(cmd + "/a/b");
  WriteFile(cmd + "/a/b/deep", "x");
  fs::create_directory_symlink(elsewhere.path(), cmd + "/a/to_dir");
  fs::create_symlink(elsewhere / "target", cmd + "/to_file");
  EXPECT_TRUE(files.DeleteFolder(cmd, false));
  EXPECT_FALSE(fs::exists(cmd));
  EXPECT_EQ(ReadFile(elsewhere / "target"), "kept");
  // A folder that is a symbolic link is refused; a missing one or a file answers False.
  fs::create_directory_symlink(elsewhere.path(), area / "linked");
  EXPECT_FALSE(files.DeleteFolder(area / "linked", true));
  EXPECT_TRUE(fs::exists(elsewhere / "target"));
  EXPECT_FALSE(files.DeleteFolder(area / "missing", false));
  EXPECT_FALSE(files.DeleteFolder(area / "qq.12.01.png", false));
  // A read-only subfolder: only the forced delete takes it.
  EXPECT_EQ(WherePermissionsHold(area, [&] {
              if (::mkdir(cmd.c_str(), 0700) != 0 || ::mkdir((cmd + "/ro").c_str(), 0700) != 0)
                return 1;
              WriteFile(cmd + "/ro/f", "x");
              if (::chmod((cmd + "/ro").c_str(), 0500) != 0) return 2;
              if (files.DeleteFolder(cmd, false) || !fs::exists(cmd + "/ro/f")) return 3;
              return files.DeleteFolder(cmd, true) && !fs::exists(cmd) ? 0 : 4;
            }),
            0);
}

}  // namespace
}  // namespace pramble::sqlhost
