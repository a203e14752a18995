#include "renderer/eps_bounding_box.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace orvalis::renderer {

namespace {

// The largest box taken as a page: 200 inches a side, the most a PDF page may have.
constexpr double kMaxSidePoints = 14400;

// How far the header's boxes have come, as Ghostscript counts it.
enum Level { kNone = 0, kBoundingBox = 1, kHiResBoundingBox = 3, kHeaderEnded = 5 };

// Ghostscript's test: "%!PS-Adobe-" and "EPSF" within the first 23 bytes.
bool IsEps(std::string_view start) {
  return start.starts_with("%!PS-Adobe-") &&
         start.substr(0, 23).find("EPSF") != std::string_view::npos;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A plain PostScript number: [+-]digits[.digits] or [+-].digits, with an optional exponent.
// Anything else (radix numbers, names) is not taken, whatever Ghostscript would make of it.
bool ParseNumber(std::string_view text, double* value) {
  if (text.empty() || text.size() > 32) return false;
  size_t at = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  size_t digits = 0;
  while (at < text.size() && IsDigit(text[at])) ++at, ++digits;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && IsDigit(text[at])) ++at, ++digits;
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    size_t exponent = 0;
    while (at < text.size() && IsDigit(text[at])) ++at, ++exponent;
    if (exponent == 0) return false;
  }
  if (at != text.size()) return false;
  *value = std::strtod(std::string(text).c_str(), nullptr);
  return *value > -1e7 && *value < 1e7;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    const size_t begin = at;
    while (at < text.size() && text[at] != ' ' && text[at] != '\t') ++at;
    if (at > begin) words.push_back(text.substr(begin, at - begin));
  }
  return words;
}

enum class Box { Ignored, Taken, Unusable };

// What Ghostscript does with a box's text: fewer than four tokens are ignored; four numbers that
// make a page are taken; anything else would stop the rendering, or is more than is read here.
Box JudgeBox(std::string_view text, int xdpi, int ydpi) {
  if (text.find_first_of("()<>[]{}/%") != std::string_view::npos) {
    const std::vector<std::string_view> words = Words(text);
    return words.size() == 1 && words[0] == "(atend)" ? Box::Ignored : Box::Unusable;
  }
  const std::vector<std::string_view> words = Words(text);
  if (words.size() < 4) return Box::Ignored;
  double box[4];
  for (int i = 0; i < 4; ++i)
    if (!ParseNumber(words[static_cast<size_t>(i)], &box[i])) return Box::Unusable;
  const double width = box[2] - box[0];
  const double height = box[3] - box[1];
  if (!(width > 0 && height > 0 && width <= kMaxSidePoints && height <= kMaxSidePoints))
    return Box::Unusable;
  // Less than a pixel a side makes an empty image.
  if (width * xdpi / 72 < 1 || height * ydpi / 72 < 1) return Box::Unusable;
  return Box::Taken;
}

}  // namespace

bool CropsToBoundingBox(std::string_view start, bool whole, int xdpi, int ydpi) {
  if (!IsEps(start)) return false;
  int level = kNone;
  size_t at = 0;
  while (level < kHeaderEnded) {
    const size_t end = start.find_first_of("\r\n", at);
    if (end == std::string_view::npos && !whole) return false;  // the header goes on unread
    const std::string_view line = start.substr(at, end == std::string_view::npos ? end : end - at);
    if (line.starts_with("%%BoundingBox:") || line.starts_with("%%HiResBoundingBox:")) {
      const bool hiRes = line[2] == 'H';
      const int boxLevel = hiRes ? kHiResBoundingBox : kBoundingBox;
      if (level < boxLevel && level < kHiResBoundingBox) {
        const size_t prefix = hiRes ? 19 : 14;
        switch (JudgeBox(line.substr(prefix), xdpi, ydpi)) {
          case Box::Unusable:
            return false;
          case Box::Taken:
            level = boxLevel;
            break;
          case Box::Ignored:
            break;
        }
      }
    } else if (line.starts_with("%%EndComments") || line.starts_with("%%BeginProlog") ||
               line.starts_with("%%BeginSetup")) {
      break;
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return level > kNone;
}

}  // namespace orvalis::renderer
