#pragma once
// Replacing a whole file so that it appears under its name only when complete: the one way this
// program puts a file in place (every image it writes, the settings file).
//
// The rules:
// - The new content is written to a temporary ".<name>.<random>.part" in the folder of the file
//   it replaces, created afresh (never a name that is already there), so that the rename stays
//   on one file system. A final name near the longest a file name may be is shortened in the
//   temporary name, so every final name that fits can be written.
// - What may stand under the final name: nothing; a regular file, unless it is read-only (no
//   write permission bit: the user made it so and wants it kept); or a symbolic link, which is
//   replaced itself (its target is kept) or followed, as the caller asks. Anything else, a
//   folder, a named pipe, a device or a socket, is never replaced, and the write fails saying
//   what is there. The name is checked when the temporary is created and again when it is put
//   in place.
// - A file that replaces a regular file keeps that file's permission bits; a new one gets 0666
//   less the process's umask.
// - Commit flushes the written data, checks that every write arrived, makes it durable (fsync)
//   and renames it over the final name, then makes the rename durable. On any failure the file
//   under the final name is untouched, the temporary is removed, and the error says what failed.
// - Dropped without Commit, the temporary is removed.
// - The temporary is locked (flock) for as long as it exists, so that one left by a process
//   that was killed (its lock went with it) can be told from one being written, and removed
//   (RemoveAbandonedReplacements).

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis {

// What a symbolic link standing under the final name means.
enum class LinkAtFinalName {
  Replace,  // the link itself is replaced by the new file; the file it names stays as it is
  Follow,   // the file the link names is replaced and the link stays (a file kept elsewhere)
};

class ReplacementFile {
 public:
  // Creates the temporary for `finalPath` and opens it for reading and writing. nullptr with
  // the reason in `error` when the name cannot take a file or the folder cannot take the
  // temporary.
  static std::unique_ptr<ReplacementFile> Open(const std::string& finalPath, LinkAtFinalName links,
                                               std::string* error);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  std::FILE* File() const { return file_; }
  // Completes the file and renames it into place; false with the reason when anything fails.
  bool Commit(std::string* error);

 private:
  ReplacementFile(std::string finalPath, std::string target, std::string tempPath, std::FILE* file)
      : finalPath_(std::move(finalPath)),
        target_(std::move(target)),
        tempPath_(std::move(tempPath)),
        file_(file) {}

  std::string finalPath_;  // as the caller named it, for messages
  std::string target_;     // the name renamed over: finalPath_, or the file a link names
  std::string tempPath_;
  std::FILE* file_;
};

// Writes `bytes` as the whole new content of `path` by the rules above, following a symbolic
// link at `path`. False with the reason in `error` (when given).
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           std::string* error = nullptr);

// Puts `tempPath`, a complete file written and made durable by the caller in the folder of
// `finalPath`, in place by the rules above: what may stand under the final name, the permission
// bits, a durable rename. False with the reason; `tempPath` is then left for the caller.
bool PutInPlace(const std::string& tempPath, const std::string& finalPath, LinkAtFinalName links,
                std::string* error);

// Removes from `folder` the temporaries of this file's rules that their writer left behind: a
// regular file named as a temporary (".<name>.<6 letters or digits>.part"), whose lock nobody
// holds, and which has not changed for a minute (a writer locks its temporary the moment it
// has created it). Nothing else is touched; links are not followed. Returns what it removed.
std::vector<std::string> RemoveAbandonedReplacements(const std::string& folder);

// "'path'": how paths appear in messages.
std::string Quoted(const std::string& path);

}  // namespace orvalis
