#pragma once
// The Landlock ruleset of one rendering: what the interpreter may read, write and run. Built
// in the parent, so that the child only has to enforce it.

#include <cstdint>
#include <string>

#include "platform/file_descriptor.h"

namespace orvalis::renderer {

struct InterpreterPaths {
  std::string program;        // gs, or the script that wraps it: read and run
  std::string source;         // the document: read
  std::string pageFolder;     // where the pages go: files made and written, nothing removed
  std::string scratchFolder;  // the private temporary and working folder: everything
};

// The file-system rights a Landlock ABI knows, all of them handled (denied unless granted).
uint64_t HandledFileAccess(int abi);
// Reading files and listing folders, within what `abi` handles (for /proc/self, which only the
// child can name).
uint64_t ReadAccess(int abi);

// A ruleset for `abi` (1 or more): system program, library, font and Ghostscript folders
// readable and runnable, the few files of /etc the interpreter reads, the paths of `paths`; TCP
// denied from ABI 4; abstract Unix sockets and signals kept inside the interpreter's processes
// from ABI 6. An invalid descriptor and the reason in `error` on failure.
FileDescriptor BuildLandlockRuleset(int abi, const InterpreterPaths& paths, std::string* error);

// Adds `access` to the folder `folderFd` names (a child adds its /proc/self this way), and
// enforces the ruleset on the calling thread. Plain system calls, safe between fork and exec.
bool AddFolderRule(int rulesetFd, int folderFd, uint64_t access);
bool EnforceLandlockRuleset(int rulesetFd);

}  // namespace orvalis::renderer
