#pragma once
// The machine's processes as /proc shows them, for tests that look for the interpreters a
// program started and the state they are in.

#include <sys/types.h>

#include <map>
#include <string>

namespace orvalis::test {

struct ProcessInfo {
  pid_t parent = 0;
  char state = 0;       // 'R' running, 'S' sleeping, 'T' stopped, 'Z' ended, ...
  std::string command;  // the name in /proc/PID/stat, "gs" for the interpreter
};

// Every process there is now, by process id.
std::map<pid_t, ProcessInfo> Processes();

}  // namespace orvalis::test
