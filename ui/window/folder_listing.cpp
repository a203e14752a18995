#include "ui/window/folder_listing.h"

#include <QFile>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <tuple>

namespace orvalis {

namespace {

namespace fs = std::filesystem;

// A name as that file system orders it: each UTF-16 unit in upper case, then the bytes.
struct ListingKey {
  std::u16string folded;
  std::string name;

  explicit ListingKey(std::string_view bytes) : name(bytes) {
    const QString decoded = QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
    folded.reserve(size_t(decoded.size()));
    for (const QChar c : decoded) folded.push_back(c.toUpper().unicode());
  }
  bool operator<(const ListingKey& other) const {
    return std::tie(folded, name) < std::tie(other.folded, other.name);
  }
};

}  // namespace

bool ListedBefore(std::string_view a, std::string_view b) {
  return ListingKey(a) < ListingKey(b);
}

std::vector<std::string> FolderFiles(const std::string& folder) {
  std::vector<std::pair<ListingKey, std::string>> entries;  // each name folded once
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    entries.emplace_back(ListingKey(it->path().filename().string()), it->path().string());
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> paths;
  paths.reserve(entries.size());
  for (auto& entry : entries) paths.push_back(std::move(entry.second));
  return paths;
}

}  // namespace orvalis
