#include "renderer/landlock_rules.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvalis::renderer {

namespace {

// Rights and fields of Landlock ABIs newer than the kernel headers of the build machine may
// describe; the numbers are the kernel's ABI and never change.
constexpr uint64_t kAccessFsTruncate = 1ULL << 14;        // ABI 3
constexpr uint64_t kAccessFsIoctlDev = 1ULL << 15;        // ABI 5
constexpr uint64_t kAccessNetBindTcp = 1ULL << 0;         // ABI 4
constexpr uint64_t kAccessNetConnectTcp = 1ULL << 1;      // ABI 4
constexpr uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // ABI 6
constexpr uint64_t kScopeSignal = 1ULL << 1;              // ABI 6

// struct landlock_ruleset_attr as ABI 6 has it; older kernels are given only the fields they
// know (its size grows with the ABI).
struct RulesetAttributes {
  uint64_t handledAccessFs;
  uint64_t handledAccessNet;
  uint64_t scoped;
};

constexpr uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr uint64_t kReadDir = LANDLOCK_ACCESS_FS_READ_DIR;
constexpr uint64_t kExecute = LANDLOCK_ACCESS_FS_EXECUTE;
constexpr uint64_t kWriteFile = LANDLOCK_ACCESS_FS_WRITE_FILE;
// Rights that make sense on a file; the others are about the entries of a folder.
constexpr uint64_t kFileRights =
    kExecute | kWriteFile | kReadFile | kAccessFsTruncate | kAccessFsIoctlDev;

// The system's read-only folders of programs, libraries, fonts and Ghostscript's resources.
constexpr const char* kSystemFolders[] = {"/usr",   "/bin",   "/sbin",   "/lib",
                                          "/lib32", "/lib64", "/libx32", "/opt"};
// What the interpreter and the dynamic loader read beyond them.
constexpr const char* kSystemData[] = {
    "/etc/ld.so.cache", "/etc/ld.so.preload", "/etc/papersize",       "/etc/localtime",
    "/etc/ghostscript", "/etc/fonts",         "/var/lib/ghostscript", "/var/cache/fontconfig"};

long AddRule(int rulesetFd, int pathFd, uint64_t access) {
  const landlock_path_beneath_attr rule{access, pathFd};
  return ::syscall(__NR_landlock_add_rule, rulesetFd, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
}

// Grants `access` (within what the ruleset handles, and only the file rights for a file) to the
// file or folder at `path`. Errno is kept for the caller on failure.
bool AddPathRule(int rulesetFd, const std::string& path, uint64_t access) {
  const FileDescriptor fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat info {};
  if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) access &= kFileRights;
  return access == 0 || AddRule(rulesetFd, fd.Get(), access) == 0;
}

}  // namespace

uint64_t HandledFileAccess(int abi) {
  uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // ABI 1: bits 0 to 12
  if (abi >= 2) rights |= LANDLOCK_ACCESS_FS_REFER;
  if (abi >= 3) rights |= kAccessFsTruncate;
  if (abi >= 5) rights |= kAccessFsIoctlDev;
  return rights;
}

uint64_t ReadAccess(int abi) {
  return (kReadFile | kReadDir) & HandledFileAccess(abi);
}

bool AddFolderRule(int rulesetFd, int folderFd, uint64_t access) {
  return AddRule(rulesetFd, folderFd, access) == 0;
}

bool EnforceLandlockRuleset(int rulesetFd) {
  return ::syscall(__NR_landlock_restrict_self, rulesetFd, 0) == 0;
}

FileDescriptor BuildLandlockRuleset(int abi, const InterpreterPaths& paths, std::string* error) {
  const uint64_t handled = HandledFileAccess(abi);
  RulesetAttributes attributes{handled, 0, 0};
  size_t size = sizeof attributes.handledAccessFs;
  if (abi >= 4) {
    attributes.handledAccessNet = kAccessNetBindTcp | kAccessNetConnectTcp;
    size += sizeof attributes.handledAccessNet;
  }
  if (abi >= 6) {
    attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    size += sizeof attributes.scoped;
  }
  FileDescriptor ruleset(
      static_cast<int>(::syscall(__NR_landlock_create_ruleset, &attributes, size, 0)));
  if (!ruleset.IsOpen()) {
    *error = std::string("cannot create a Landlock ruleset: ") + std::strerror(errno);
    return FileDescriptor();
  }
  const uint64_t read = kReadFile | kReadDir;
  for (const char* folder : kSystemFolders) AddPathRule(ruleset.Get(), folder, read | kExecute);
  for (const char* data : kSystemData) AddPathRule(ruleset.Get(), data, read);

  const uint64_t scratchRights = read | kWriteFile | LANDLOCK_ACCESS_FS_MAKE_REG |
                                 LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                                 LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REFER |
                                 kAccessFsTruncate;
  const struct {
    const std::string& path;
    uint64_t access;
  } required[] = {
      {paths.program, kReadFile | kExecute},
      {paths.source, kReadFile},
      {paths.pageFolder, kWriteFile | LANDLOCK_ACCESS_FS_MAKE_REG | kAccessFsTruncate},
      {paths.scratchFolder, scratchRights},
  };
  for (const auto& rule : required) {
    if (!AddPathRule(ruleset.Get(), rule.path, rule.access & handled)) {
      *error = "cannot let the interpreter reach " + rule.path + ": " + std::strerror(errno);
      return FileDescriptor();
    }
  }
  return ruleset;
}

}  // namespace orvalis::renderer
