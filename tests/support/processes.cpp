#include "tests/support/processes.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvalis::test {

std::map<pid_t, ProcessInfo> Processes() {
  std::map<pid_t, ProcessInfo> processes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...: the name may hold spaces and parentheses, so it ends at the
    // last ')'.
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    ProcessInfo info;
    info.command = line.substr(open + 1, close - open - 1);
    std::istringstream fields(line.substr(close + 1));
    if (!(fields >> info.state >> info.parent)) continue;
    processes[static_cast<pid_t>(std::stol(name))] = info;
  }
  return processes;
}

}  // namespace orvalis::test
