#include "platform/profile_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_replace.h"

namespace orvalis {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

// A reader removes one pair of quotes when the value starts with a quote and ends with the same.
bool ReaderStripsQuotes(std::string_view value) {
  return value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front();
}

std::string StripQuotes(std::string_view value) {
  if (ReaderStripsQuotes(value)) value = value.substr(1, value.size() - 2);
  return std::string(value);
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsStorableName(std::string_view name, std::string_view forbidden) {
  return !name.empty() && !HasLineBreakOrNul(name) && Trim(name).size() == name.size() &&
         name.front() != '[' && name.front() != ';' && name.front() != '#' &&
         name.find_first_of(forbidden) == std::string_view::npos;
}

// The text that reads back as `value`: quoted when blanks at its ends would be trimmed away or
// when a reader would take its own quotes off.
std::string EncodeValue(std::string_view value) {
  const bool quote = (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()))) ||
                     ReaderStripsQuotes(value);
  if (!quote) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted.append(1, '"').append(value).append(1, '"');
  return quoted;
}

}  // namespace

int32_t ParseProfileInt(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  uint32_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10u + static_cast<uint32_t>(text[at] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

ProfileDocument::Line ProfileDocument::ParseLine(std::string text) {
  Line line;
  const std::string_view body = Trim(text);
  if (!body.empty() && body.front() == '[') {
    const size_t close = body.find(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::kSection;
      line.name = std::string(Trim(body.substr(1, close - 1)));
    }
  }
  const bool comment = !body.empty() && (body.front() == ';' || body.front() == '#');
  if (line.kind == LineKind::kOther && !body.empty() && !comment) {
    const size_t equals = body.find('=');
    line.kind = LineKind::kEntry;
    line.name = std::string(Trim(body.substr(0, equals)));
    if (equals != std::string_view::npos) line.value = std::string(Trim(body.substr(equals + 1)));
  }
  line.text = std::move(text);
  return line;
}

ProfileDocument ProfileDocument::Parse(std::string_view bytes) {
  ProfileDocument document;
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    document.byteOrderMark_ = true;
    bytes.remove_prefix(kByteOrderMark.size());
  }
  const size_t firstBreak = bytes.find('\n');
  if (firstBreak != std::string_view::npos && firstBreak > 0 && bytes[firstBreak - 1] == '\r') {
    document.lineBreak_ = "\r\n";
  }
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string_view text = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    document.lines_.push_back(ParseLine(std::string(text)));
  }
  return document;
}

size_t ProfileDocument::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection && EqualNoCase(lines_[i].name, section)) return i;
  }
  return std::string::npos;
}

size_t ProfileDocument::FindEntry(size_t sectionLine, std::string_view key) const {
  for (size_t i = sectionLine + 1; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection) break;
    if (lines_[i].kind == LineKind::kEntry && EqualNoCase(lines_[i].name, key)) return i;
  }
  return std::string::npos;
}

std::optional<std::string> ProfileDocument::Find(std::string_view section,
                                                 std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == std::string::npos) return std::nullopt;
  const size_t entry = FindEntry(header, key);
  if (entry == std::string::npos) return std::nullopt;
  return StripQuotes(lines_[entry].value);
}

std::string ProfileDocument::GetString(std::string_view section, std::string_view key,
                                       std::string_view fallback) const {
  std::optional<std::string> value = Find(section, key);
  return value ? std::move(*value) : std::string(fallback);
}

int32_t ProfileDocument::GetInt(std::string_view section, std::string_view key,
                                int32_t fallback) const {
  const std::optional<std::string> value = Find(section, key);
  return (value && !value->empty()) ? ParseProfileInt(*value) : fallback;
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!IsStorableName(section, "]") || !IsStorableName(key, "=") || HasLineBreakOrNul(value)) {
    return false;
  }
  const std::string text = std::string(key) + "=" + EncodeValue(value);
  const size_t header = FindSection(section);
  if (header == std::string::npos) {
    lines_.push_back(ParseLine(std::string("[").append(section).append("]")));
    lines_.push_back(ParseLine(text));
    return true;
  }
  const size_t entry = FindEntry(header, key);
  if (entry != std::string::npos) {
    lines_[entry] = ParseLine(lines_[entry].name + "=" + EncodeValue(value));
    return true;
  }
  // A new key goes after the section's last entry, ahead of blank lines or comments that
  // introduce the next section.
  size_t insertAt = header + 1;
  for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != LineKind::kSection; ++i) {
    if (lines_[i].kind == LineKind::kEntry) insertAt = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), ParseLine(text));
  return true;
}

std::string ProfileDocument::Serialize() const {
  std::string bytes = byteOrderMark_ ? std::string(kByteOrderMark) : std::string();
  for (const Line& line : lines_) {
    bytes += line.text;
    bytes += lineBreak_;
  }
  return bytes;
}

bool LoadProfileDocument(const std::string& path, ProfileDocument* document, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what;
    return false;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) {
      *document = ProfileDocument();
      return true;
    }
    return fail("cannot open " + path + ": " + std::strerror(errno));
  }
  std::string bytes;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  std::string problem = ok ? "" : path + " is not a regular file";
  char buffer[16384];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      problem = "cannot read " + path + ": " + std::strerror(errno);
    } else if (n == 0) {
      break;
    } else if (bytes.size() + static_cast<size_t>(n) > ProfileDocument::kMaxFileBytes) {
      ok = false;
      problem = path + " is larger than a settings file can be";
    } else {
      bytes.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (!ok) return fail(problem);
  *document = ProfileDocument::Parse(bytes);
  return true;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback) {
  ProfileDocument document;
  if (!LoadProfileDocument(path, &document)) return std::string(fallback);
  return document.GetString(section, key, fallback);
}

int32_t ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                       int32_t fallback) {
  ProfileDocument document;
  if (!LoadProfileDocument(path, &document)) return fallback;
  return document.GetInt(section, key, fallback);
}

bool WriteProfileStrings(const std::string& path, std::string_view section,
                         std::span<const ProfileEntry> entries, std::string* error) {
  ProfileDocument document;
  if (!LoadProfileDocument(path, &document, error)) return false;
  for (const auto& [key, value] : entries) {
    if (!document.Set(section, key, value)) {
      if (error != nullptr) *error = "cannot store the key \"" + std::string(key) + "\" in " + path;
      return false;
    }
  }
  return ReplaceFileAtomically(path, document.Serialize(), error);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string* error) {
  const ProfileEntry entry{key, value};
  return WriteProfileStrings(path, section, std::span<const ProfileEntry>(&entry, 1), error);
}

}  // namespace orvalis
