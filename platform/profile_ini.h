#pragma once
// Private-profile (INI) files: "[section]" header lines, each followed by key=value lines.
// Reading follows the classic private-profile functions: section and key names match without
// regard to case, the first occurrence wins, blanks around names and values are dropped and
// one pair of matching quotes around a value is removed; lines starting with ';' or '#' are
// comments. Writing changes only the line of the key it sets (or adds one), keeps every other
// line as it was, and replaces the file on disk atomically.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvalis {

// Reads an integer value the way GetPrivateProfileIntA does: blanks and control characters
// before it are skipped, one '+' or '-' may follow, then decimal digits up to the first other
// character. The digits accumulate modulo 2^32, as the original's unsigned arithmetic does.
// Text without leading digits reads as 0.
int32_t ParseProfileInt(std::string_view text);

// One INI file held as its lines, so that a write touches nothing but the key it sets.
class ProfileDocument {
 public:
  // Files larger than this are refused: a settings file is a few hundred bytes.
  static constexpr size_t kMaxFileBytes = 1 << 20;

  static ProfileDocument Parse(std::string_view bytes);

  // The value of `key` in the first section named `section`, or nullopt when either is absent.
  // A key line without '=' has the empty value.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // The value, or `fallback` when the key is missing.
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view fallback) const;
  // The value read by ParseProfileInt, or `fallback` when the key is missing or empty.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;

  // Sets `key` to `value`, adding the key (and the section) when needed. Refuses, returning
  // false and changing nothing, what one line cannot hold: a line break or NUL anywhere, an
  // empty name, a name with '=' (key) or ']' (section), a name starting with '[', ';' or '#', a
  // name with blanks around it. A value with blanks at either end, or one that a reader would strip
  // quotes from, is written in double quotes so that it reads back exactly.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // The file's bytes: the original lines (the one set replaced, new ones added), each ended
  // with the file's own line break.
  std::string Serialize() const;

 private:
  enum class LineKind { kOther, kSection, kEntry };
  struct Line {
    std::string text;
    LineKind kind = LineKind::kOther;
    std::string name;   // section name or key, trimmed
    std::string value;  // value as written, trimmed (entries only)
  };

  static Line ParseLine(std::string text);
  // Index of the first header of `section`, or npos.
  size_t FindSection(std::string_view section) const;
  // Index of the entry `key` under the header at `sectionLine`, or npos.
  size_t FindEntry(size_t sectionLine, std::string_view key) const;

  std::vector<Line> lines_;
  bool byteOrderMark_ = false;
  std::string lineBreak_ = "\n";
};

// Loads the file at `path`. A missing file gives an empty document and true. A file that exists
// but cannot be read, or is larger than kMaxFileBytes, gives false with the reason in `error`.
bool LoadProfileDocument(const std::string& path, ProfileDocument* document,
                         std::string* error = nullptr);

// Reads one value; a missing or unreadable file gives `fallback`.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback);
int32_t ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                       int32_t fallback);

using ProfileEntry = std::pair<std::string_view, std::string_view>;

// Sets every entry, in the order given, and replaces the file at once (a temporary file beside
// it, then a rename). Either all entries are stored or the file is left as it was: an entry
// that cannot be stored, an unreadable old file or a failed write gives false with the reason
// in `error`.
bool WriteProfileStrings(const std::string& path, std::string_view section,
                         std::span<const ProfileEntry> entries, std::string* error = nullptr);
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string* error = nullptr);

}  // namespace orvalis
