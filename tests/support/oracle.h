#pragma once
// Independent decoders for checking what the project writes: Pillow through pil_dump.py, and any
// command-line tool (tiffinfo, opj_decompress, wmf2svg, netpbm) through RunCommand.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvalis::test {

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs a program (searched on PATH, never through a shell) and captures both output streams.
CommandResult RunCommand(const std::vector<std::string>& argv);

// What Pillow read from a file.
struct OracleImage {
  std::string format;  // Pillow's format name: "BMP", "PNG", "TIFF", ...
  std::string mode;    // Pillow's mode: "1", "L", "P", "RGB", "RGBA", ...
  int width = 0;
  int height = 0;
  int frames = 0;
  int channels = 3;                         // 3 (RGB) or 4 (RGBA) in `pixels`
  std::vector<int> palette;                 // Pillow's palette for mode "P", r g b r g b ...
  std::map<std::string, std::string> info;  // Pillow's info, values as JSON text
  std::map<int, std::string> tags;          // TIFF: the frame's tags by number, values as JSON
  std::vector<uint8_t> pixels;              // rows from the top of the picture

  // Colour of the pixel at x, y with y counted from the top row: red, green, blue, alpha.
  std::array<uint8_t, 4> At(int x, int yFromTop) const;
};

// Decodes `path` (frame `frame` of a multi-frame file) with Pillow; nullopt with the reason in
// `error` when Pillow refuses the file.
std::optional<OracleImage> PillowDecode(const std::string& path, int frame = 0,
                                        std::string* error = nullptr);

// The colours Pillow reads at `points` (fractions of the width and the height, from the top
// left corner) in every frame of every file of `paths`: one entry per frame, files in order and
// each file's frames in order, one colour per point. nullopt with the reason in `error` when
// Pillow refuses a file. One Python process reads them all.
using Rgb = std::array<uint8_t, 3>;
std::optional<std::vector<std::vector<Rgb>>> PillowSamples(
    const std::vector<std::string>& paths, const std::vector<std::array<double, 2>>& points,
    std::string* error = nullptr);

}  // namespace orvalis::test
