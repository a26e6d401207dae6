#include "sqlhost/util/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "pramble/host/errors.h"
#include "host_util/test_util.h"

namespace pramble::sqlhost {
namespace {

using testing::ScopedEnv;
using testing::TempDir;
using testing::Slurp;
using testing::Spit;

TEST(FileSystemTest, TempFolderNamesAreNewAndUnpredictable) {
  TempDir area;
  ScopedEnv tmpdir("TMPDIR", (area.path() + "/").c_str());
  PosixFileSystem files;
  const std::string first = files.GetTempFolderName();
  const std::string second = files.GetTempFolderName();
  const std::regex shape(std::regex_replace(area.path(), std::regex(R"([.^$|()\[\]{}*+?\\])"),
                                            R"(\$&)") +
                         "/pramble-[0-9a-f]{16}");
  EXPECT_TRUE(std::regex_match(first, shape)) << first;
  EXPECT_NE(first, second);
  EXPECT_FALSE(std::filesystem::exists(first));
  ASSERT_TRUE(files.CreateFolder(first));
  EXPECT_EQ(std::filesystem::status(first).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_FALSE(files.CreateFolder(first)) << "an existing folder is not new";
}

TEST(FileSystemTest, NoTempFolderNameWithoutATemporaryArea) {
  TempDir area;
  Spit(area / "file", "");
  PosixFileSystem files;
  for (const std::string& missing : {area / "missing", area / "file"}) {
    ScopedEnv tmpdir("TMPDIR", missing.c_str());
    EXPECT_EQ(files.GetTempFolderName(), "") << missing;
  }
  EXPECT_EQ(testing::WherePermissionsHold(area, [&] {
              if (::chmod(area.path().c_str(), 0500) != 0) return 1;
              ScopedEnv tmpdir("TMPDIR", area.path().c_str());
              return files.GetTempFolderName() == "" ? 0 : 2;
            }),
            0);
}

TEST(FileSystemTest, CreateFolderFailures) {
  TempDir area;
  Spit(area / "file", "");
  PosixFileSystem files;
  EXPECT_FALSE(files.CreateFolder(area / "no/such/parent"));
  EXPECT_FALSE(files.CreateFolder(area / "file/sub"));
  EXPECT_FALSE(files.CreateFolder(""));
}

TEST(FileSystemTest, DisplayPath) {
  PosixFileSystem files;
  EXPECT_EQ(files.GetDisplayPath("/tmp/pramble-1", ""), "/tmp/pramble-1");
  EXPECT_EQ(files.GetDisplayPath("/p/x/in.r", "/p/"), "x/in.r");
  EXPECT_EQ(files.GetDisplayPath("/p", "/p"), ".");
  EXPECT_EQ(files.GetDisplayPath("/px/in.r", "/p"), "/px/in.r");
}

TEST(FileSystemTest, WholeFilesKeepEveryByte) {
  TempDir area;
  PosixFileSystem files;
  const std::string text = std::string("a\r\nb\n\0c", 7) + "ü" + std::string(200000, 'x');
  ASSERT_TRUE(files.WriteTextFile(area / "f.r", text));
  EXPECT_EQ(Slurp(area / "f.r"), text);
  ASSERT_TRUE(files.WriteTextFile(area / "f.r", "short"));
  std::string read = "old";
  ASSERT_TRUE(files.ReadTextFile(area / "f.r", read));
  EXPECT_EQ(read, "short");
  ASSERT_TRUE(files.WriteTextFile(area / "empty", ""));
  ASSERT_TRUE(files.ReadTextFile(area / "empty", read));
  EXPECT_EQ(read, "");
}

TEST(FileSystemTest, WholeFileFailuresAnswerFalse) {
  TempDir area;
  Spit(area / "file", "x");
  std::filesystem::create_directory(area / "dir");
  PosixFileSystem files;
  for (const std::string& bad :
       {area / "missing/f", area / "file/f", area / "dir", std::string("/dev/full")})
    EXPECT_FALSE(files.WriteTextFile(bad, "text")) << bad;
  std::string text = "stale";
  for (const std::string& bad : {area / "missing", area / "file/f", area / "dir"}) {
    EXPECT_FALSE(files.ReadTextFile(bad, text)) << bad;
    EXPECT_EQ(text, "");
  }
  // A read-only folder.
  EXPECT_EQ(testing::WherePermissionsHold(area, [&] {
              const std::string folder = area / "ro";
              if (::mkdir(folder.c_str(), 0500) != 0) return 1;
              if (files.WriteTextFile(folder + "/f", "text")) return 2;
              try {
                files.NewWritableFile(folder + "/f");
                return 3;
              } catch (const host::HostError& e) {
                if (e.description() != "cannot open file for writing '" + folder +
                                           "/f': Permission denied")
                  return 4;
              }
              return 0;
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
  EXPECT_EQ(Slurp(area / "data.r"), expected);

  // /dev/full fails every write with ENOSPC: at Append once the buffer
  // fills, or at Close for what is still buffered.
  auto small = files.NewWritableFile("/dev/full");
  small->Append("a short line\r\n");
  try {
    small->Close();
    ADD_FAILURE() << "Close succeeded on a full disk";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrPathFileAccess);
    EXPECT_EQ(e.description(), "cannot write file '/dev/full': No space left on device");
  }
  auto big = files.NewWritableFile("/dev/full");
  try {
    for (int i = 0; i < 100; ++i) big->Append(std::string(4096, 'z'));
    ADD_FAILURE() << "Append succeeded on a full disk";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.description(), "cannot write file '/dev/full': No space left on device");
  }
  EXPECT_NO_THROW(big->Close()) << "the failure was already reported";
}

TEST(FileSystemTest, OpenFailuresNameTheFile) {
  TempDir area;
  PosixFileSystem files;
  struct Case {
    std::string path;
    std::int32_t number;
    std::string reason;
  };
  const Case writes[] = {{area / "missing/f", host::kErrFileNotFound, "No such file or directory"},
                         {area.path(), host::kErrPathFileAccess, "Is a directory"}};
  for (const auto& c : writes) {
    try {
      files.NewWritableFile(c.path);
      ADD_FAILURE() << c.path;
    } catch (const host::HostError& e) {
      EXPECT_EQ(e.number(), c.number);
      EXPECT_EQ(e.description(), "cannot open file for writing '" + c.path + "': " + c.reason);
    }
  }
  try {
    files.NewLineReader(area / "missing");
    ADD_FAILURE();
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrFileNotFound);
    EXPECT_EQ(e.description(), "cannot open file for reading '" + (area / "missing") +
                                   "': No such file or directory");
  }
  try {
    files.DeleteFile(area / "missing");
    ADD_FAILURE();
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.description(),
              "cannot delete file '" + (area / "missing") + "': No such file or directory");
  }
  EXPECT_THROW(files.ListFiles(area / "missing"), host::HostError);
}

TEST(FileSystemTest, LineReaderStripsLineEnds) {
  struct Case {
    std::string contents;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r\n\r\nlast", {"a", "", "last"}},
      {"0012\t3.5\n0013 \t x\r", {"0012\t3.5", "0013 \t x"}},
      {std::string(200000, 'q') + "\nz", {std::string(200000, 'q'), "z"}},
  };
  TempDir area;
  PosixFileSystem files;
  for (const auto& c : cases) {
    Spit(area / "stat.r", c.contents);
    auto reader = files.NewLineReader(area / "stat.r");
    std::vector<std::string> lines;
    std::string line;
    while (reader->ReadLine(line)) lines.push_back(line);
    reader->Close();
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(FileSystemTest, ListAndDeleteFiles) {
  TempDir area;
  Spit(area / "ddf.12.01.png", "");
  Spit(area / "qq.12.01.png", "");
  std::filesystem::create_directory(area / "sub");
  Spit(area / "sub/inner", "");
  TempDir elsewhere;
  Spit(elsewhere / "target", "kept");
  std::filesystem::create_symlink(elsewhere / "target", area / "link");
  PosixFileSystem files;
  auto names = files.ListFiles(area.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ddf.12.01.png", "link", "qq.12.01.png"}));
  files.DeleteFile(area / "ddf.12.01.png");
  files.DeleteFile(area / "link");
  EXPECT_FALSE(std::filesystem::exists(area / "ddf.12.01.png"));
  EXPECT_EQ(Slurp(elsewhere / "target"), "kept");
  EXPECT_EQ(files.PathSeparator(), "/");
}

TEST(FileSystemTest, DeleteFolderRemovesTheTreeButNothingOutside) {
  TempDir area;
  const std::string outside = area / "outside";
  std::filesystem::create_directories(outside + "/keep");
  Spit(outside + "/keep/precious", "x");
  const std::string cmd = area / "cmd";
  std::filesystem::create_directories(cmd + "/a/b");
  Spit(cmd + "/in.r", "x");
  Spit(cmd + "/a/b/deep", "x");
  std::filesystem::create_directory_symlink(outside + "/keep", cmd + "/a/to_dir");
  std::filesystem::create_symlink(outside + "/keep/precious", cmd + "/to_file");
  PosixFileSystem files;
  EXPECT_TRUE(files.DeleteFolder(cmd, false));
  EXPECT_FALSE(std::filesystem::exists(cmd));
  EXPECT_EQ(Slurp(outside + "/keep/precious"), "x");

  // A folder that is a symbolic link is refused; a missing one answers False.
  std::filesystem::create_directory_symlink(outside, area / "linked");
  EXPECT_FALSE(files.DeleteFolder(area / "linked", true));
  EXPECT_TRUE(std::filesystem::exists(outside + "/keep/precious"));
  EXPECT_FALSE(files.DeleteFolder(area / "missing", false));
  Spit(area / "file", "");
  EXPECT_FALSE(files.DeleteFolder(area / "file", false));
}

TEST(FileSystemTest, DeleteFolderWithAReadOnlySubfolder) {
  TempDir area;
  PosixFileSystem files;
  EXPECT_EQ(testing::WherePermissionsHold(area, [&] {
              const std::string cmd = area / "cmd";
              if (::mkdir(cmd.c_str(), 0700) != 0 || ::mkdir((cmd + "/ro").c_str(), 0700) != 0)
                return 1;
              Spit(cmd + "/ro/f", "x");
              if (::chmod((cmd + "/ro").c_str(), 0500) != 0) return 2;
              if (files.DeleteFolder(cmd, false)) return 3;
              if (!std::filesystem::exists(cmd + "/ro/f")) return 4;
              if (!files.DeleteFolder(cmd, true)) return 5;
              return std::filesystem::exists(cmd) ? 6 : 0;
            }),
            0);
}

}  // namespace
}  // namespace pramble::sqlhost
