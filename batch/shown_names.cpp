#include "batch/shown_names.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "batch/page_files.h"
#include "batch/source_preparation.h"

namespace orvalis {

namespace {

namespace fs = std::filesystem;

// What one internal name stands for: a path the user knows (kept in its quotes), or words
// (which take the quotes' place).
struct Meaning {
  std::string text;
  size_t end;  // where the internal name ends in the text
  bool isPath = false;
  bool isPage = false;
};

bool StartsWithAt(const std::string& text, size_t at, std::string_view word) {
  return text.compare(at, word.size(), word) == 0;
}

// Where a name the messages carry ends when it is none of ours: at a space, a quote, or the
// punctuation that follows a name in a message.
size_t NameEnd(const std::string& text, size_t at) {
  const size_t end = text.find_first_of(" \t\n'\":;,()", at);
  return end == std::string::npos ? text.size() : end;
}

// "7" and where it ends, for "<stem>_007.bmp" at `at`.
std::optional<std::pair<int, size_t>> PageAt(const std::string& text, size_t at,
                                             const std::string& stem) {
  if (stem.empty() || !StartsWithAt(text, at, stem + "_")) return std::nullopt;
  size_t end = at + stem.size() + 1;
  int number = 0;
  size_t digits = 0;
  for (; end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) && digits < 9;
       ++end, ++digits)
    number = number * 10 + (text[end] - '0');
  if (digits == 0 || !StartsWithAt(text, end, ".bmp")) return std::nullopt;
  return std::pair{number, end + 4};
}

// The meaning of what follows the page folder's path (without its '/') at `at`.
Meaning Classify(const std::string& text, size_t at, const InternalNames& names,
                 const std::string& temporary) {
  if (at >= text.size() || text[at] != '/') return {temporary, at, true};
  size_t name = at + 1;
  std::string_view within;
  for (std::string_view sub : {std::string_view(kSecondPartFolder), std::string_view(kAgainFolder),
                               std::string_view(kCopyFolder)}) {
    if (StartsWithAt(text, name, sub)) {
      within = sub;
      name += sub.size();
      break;
    }
  }
  if (within == kCopyFolder) {
    if (StartsWithAt(text, name, kUnpackedCopy))
      return {"the unpacked copy of " + names.source, name + std::strlen(kUnpackedCopy)};
    if (StartsWithAt(text, name, kSectionCopy))
      return {"the PostScript section of " + names.source, name + std::strlen(kSectionCopy)};
  } else if (within.empty() && StartsWithAt(text, name, kPlainSourceLink)) {
    return {names.source, name + std::strlen(kPlainSourceLink), true};
  } else if (const auto page = PageAt(text, name, names.pageStem)) {
    return {"page " + std::to_string(page->first), page->second, false, true};
  }
  const size_t end = NameEnd(text, name);
  if (end == name) return {temporary, name, true};  // the folder, or one of its own
  return {text.compare(end - 4, 4, ".bmp") == 0 ? "a page file" : "a temporary file", end};
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::string ShownToUser(const InternalNames& names, std::string text) {
  if (!names.writeFolder.empty()) ReplaceAll(text, names.writeFolder, names.target);
  if (names.pageFolder.empty()) return text;
  std::string folder = names.pageFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string temporary = fs::path(folder).parent_path().string();

  std::string shown;
  size_t at = 0;
  for (size_t found = text.find(folder); found != std::string::npos;
       found = text.find(folder, at)) {
    shown.append(text, at, found - at);
    Meaning meaning = Classify(text, found + folder.size(), names, temporary);
    at = meaning.end;
    // Words stand in the quotes' place.
    if (!meaning.isPath && !shown.empty() && shown.back() == '\'' && at < text.size() &&
        text[at] == '\'') {
      shown.pop_back();
      ++at;
    }
    // "The page file <page 7>" is "The file of page 7", "Cannot read page <page 7>" is
    // "Cannot read page 7".
    if (meaning.isPage) {
      if (shown.ends_with("page file ")) {
        shown.resize(shown.size() - 10);
        meaning.text = "file of " + meaning.text;
      } else if (shown.ends_with("page ")) {
        shown.resize(shown.size() - 5);
      }
    }
    shown += meaning.text;
  }
  shown.append(text, at);
  return shown;
}

}  // namespace orvalis
