// The host's file system utility on POSIX: the temporary command folders of
// runs, whole-file reads and writes, streamed data files and line-by-line
// reading, folder listing and deletion.
//
// Operations that answer a Boolean report failure by answering False; the
// others throw host::HostError whose description names the file and the
// system's reason ("cannot write file '/tmp/x/ddf.dat.r': No space left on
// device"). Number 53 (file not found) when a file or folder is missing, 75
// (path/file access error) for every other failure.
//
// Thread-safety: stateless; one instance may be used from any thread. Each
// WritableFile and LineReader is used on one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

class PosixFileSystem : public host::FileSystem {
 public:
  // "<TMPDIR or /tmp>/pramble-<16 random hex digits>", a name that does not
  // exist yet; "" when the temporary area is missing or not writable.
  std::string GetTempFolderName() override;
  // Creates the one folder `folder` with mode 0700 (its parent must exist).
  // False when it cannot, also when something of that name exists already.
  bool CreateFolder(const std::string& folder) override;
  // `folder` relative to `base` when it lies inside it; otherwise `folder`.
  std::string GetDisplayPath(const std::string& folder, const std::string& base) override;
  // Creates or replaces `file` with exactly the bytes of `text`. False on any
  // failure, a full disk included (the file may then be left incomplete).
  bool WriteTextFile(const std::string& file, const std::string& text) override;
  // The whole file, bytes unchanged. False when it cannot be read (`text` is then "").
  bool ReadTextFile(const std::string& file, std::string& text) override;
  // Deletes `folder` and everything in it. Symbolic links are removed, never
  // followed, so nothing outside the folder is touched; a `folder` that is
  // itself a symbolic link is refused. `force` True also gives write and
  // search permission to sub-folders that lack them. False when the folder
  // is missing or anything in it could not be deleted (what could is gone).
  bool DeleteFolder(const std::string& folder, bool force) override;

  // A new or emptied `file`, written through a buffer. Append and Close throw
  // HostError on failure; a full disk surfaces at Append or at Close at the
  // latest. Destroying an unclosed file closes it and ignores errors.
  std::unique_ptr<host::WritableFile> NewWritableFile(const std::string& file) override;
  // Lines of `file` without their line end (LF or CR LF); a last line
  // without a line end is returned too.
  std::unique_ptr<host::LineReader> NewLineReader(const std::string& file) override;
  // Names of the entries in `folder` that are not folders, in listing order.
  std::vector<std::string> ListFiles(const std::string& folder) override;
  void DeleteFile(const std::string& file) override;
  std::string PathSeparator() const override { return "/"; }
};

}  // namespace pramble::sqlhost
