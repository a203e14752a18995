#include "tests/support/oracle.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace orvalis::test {

CommandResult RunCommand(const std::vector<std::string>& argv) {
  TempDir scratch;
  const std::string outPath = scratch.File("stdout");
  const std::string errPath = scratch.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  CommandResult result;
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    result.err = "cannot start " + argv[0];
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = ReadFileText(outPath);
  result.err += ReadFileText(errPath);
  return result;
}

std::array<uint8_t, 4> OracleImage::At(int x, int yFromTop) const {
  const size_t at = (static_cast<size_t>(yFromTop) * width + x) * channels;
  return {pixels[at], pixels[at + 1], pixels[at + 2],
          static_cast<uint8_t>(channels == 4 ? pixels[at + 3] : 255)};
}

std::optional<OracleImage> PillowDecode(const std::string& path, int frame, std::string* error) {
  const CommandResult run = RunCommand(
      {"/usr/bin/python3", ORVALIS_TEST_SUPPORT_DIR "/pil_dump.py", path, std::to_string(frame)});
  if (run.exitCode != 0) {
    if (error) *error = run.err;
    return std::nullopt;
  }
  const size_t separator = run.out.find("\n--\n");
  if (separator == std::string::npos) {
    if (error) *error = "unexpected output of pil_dump.py";
    return std::nullopt;
  }
  OracleImage image;
  std::istringstream head(run.out.substr(0, separator));
  for (std::string line; std::getline(head, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "format")
      image.format = value;
    else if (key == "mode")
      image.mode = value;
    else if (key == "width")
      image.width = std::stoi(value);
    else if (key == "height")
      image.height = std::stoi(value);
    else if (key == "frames")
      image.frames = std::stoi(value);
    else if (key == "channels")
      image.channels = std::stoi(value);
    else if (key == "palette") {
      std::istringstream values(value);
      for (int v; values >> v;) image.palette.push_back(v);
    } else if (key.rfind("info.", 0) == 0) {
      image.info[key.substr(5)] = value;
    } else if (key.rfind("tag.", 0) == 0) {
      image.tags[std::stoi(key.substr(4))] = value;
    }
  }
  const std::string pixels = run.out.substr(separator + 4);
  image.pixels.assign(pixels.begin(), pixels.end());
  if (image.pixels.size() != static_cast<size_t>(image.width) * image.height * image.channels) {
    if (error) *error = "pixel data of unexpected size from pil_dump.py";
    return std::nullopt;
  }
  return image;
}

std::optional<std::vector<std::vector<Rgb>>> PillowSamples(
    const std::vector<std::string>& paths, const std::vector<std::array<double, 2>>& points,
    std::string* error) {
  std::string where;
  for (const auto& [x, y] : points) {
    if (!where.empty()) where += ';';
    where += std::to_string(x) + ',' + std::to_string(y);
  }
  std::vector<std::string> argv = {"/usr/bin/python3", ORVALIS_TEST_SUPPORT_DIR "/pil_samples.py",
                                   where};
  argv.insert(argv.end(), paths.begin(), paths.end());
  const CommandResult run = RunCommand(argv);
  std::vector<std::vector<Rgb>> frames;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("error: ", 0) == 0) {
      if (error) *error = line;
      return std::nullopt;
    }
    std::istringstream values(line);
    std::vector<Rgb> colours;
    for (int r, g, b; values >> r >> g >> b;) {
      colours.push_back(
          {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
    }
    if (colours.size() != points.size()) {
      if (error) *error = "unexpected output of pil_samples.py: " + line;
      return std::nullopt;
    }
    frames.push_back(std::move(colours));
  }
  if (run.exitCode != 0) {
    if (error) *error = run.err.empty() ? "pil_samples.py failed" : run.err;
    return std::nullopt;
  }
  return frames;
}

}  // namespace orvalis::test
