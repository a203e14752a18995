#include "tests/support/stateful_documents.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/support/oracle.h"

namespace orvalis::test {

namespace {

constexpr int kGreyPerPage = 20;
constexpr int kFixedValue = 128;
constexpr int kTolerance = 3;  // anti-aliasing and rounding of the greys

// "page value pagemark": the left half in the page's grey, the right half in the value's.
constexpr char kProlog[] =
    "%!PS\n"
    "/pagemark { 255 div setgray 36 0 36 36 rectfill\n"
    "  20 mul 255 div setgray 0 0 36 36 rectfill } def\n"
    "<< /PageSize [72 36] >> setpagedevice\n";

std::vector<int> Pages(std::initializer_list<std::pair<int, int>> pageAndCopies) {
  std::vector<int> pages;
  for (const auto& [page, copies] : pageAndCopies) pages.insert(pages.end(), copies, page);
  return pages;
}

std::vector<int> OneToN(int n) {
  std::vector<int> pages;
  for (int page = 1; page <= n; ++page) pages.push_back(page);
  return pages;
}

// Pages as ps2write wraps them, written out by hand: each line is a whole page.
std::string SavedPages(int count) {
  std::string text = "%!PS\n";
  for (int page = 1; page <= count; ++page) {
    text += "save << /PageSize [72 36] >> setpagedevice " + std::to_string(page * kGreyPerPage) +
            " 255 div setgray 0 0 36 36 rectfill " + std::to_string(kFixedValue) +
            " 255 div setgray 36 0 36 36 rectfill showpage restore\n";
  }
  return text;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out.flush());
}

std::string Describe(const std::vector<std::vector<Rgb>>& frames) {
  std::string text;
  for (const std::vector<Rgb>& frame : frames) {
    char item[64];
    std::snprintf(item, sizeof item, "%s%.1f/%d", text.empty() ? "" : " ",
                  frame[0][0] / double(kGreyPerPage), frame[1][0]);
    text += item;
  }
  return "images show (page/value): " + text;
}

}  // namespace

std::vector<StatefulDocument> WriteStatefulDocuments(const std::string& folder,
                                                     std::string* error) {
  const std::string fixed = std::to_string(kFixedValue);
  const std::string loop = " pagemark showpage } for\n";
  struct Made {
    const char* name;
    const char* stem;
    std::string text;
    std::vector<int> pages;
    bool seeded;
  };
  std::vector<Made> made = {
      {"pages between save and restore", "saved_pages", SavedPages(4), OneToN(4), false},
      {"/#copies 3", "copies", std::string(kProlog) + "/#copies 3 def\n1 1 3 { " + fixed + loop,
       Pages({{1, 3}, {2, 3}, {3, 3}}), false},
      {"/NumCopies 2", "num_copies",
       std::string(kProlog) + "<< /NumCopies 2 >> setpagedevice\n1 1 3 { " + fixed + loop,
       Pages({{1, 2}, {2, 2}, {3, 2}}), false},
      {"numbered from /PageCount, six pages", "page_count",
       std::string(kProlog) + "{ currentpagedevice /PageCount get dup 6 ge { pop exit } if\n" +
           "  1 add " + fixed + " pagemark showpage } loop\n",
       OneToN(6), false},
      {"seeded from realtime", "realtime",
       std::string(kProlog) + "/seed realtime 200 mod abs 28 add def\n1 1 5 { seed" + loop,
       OneToN(5), true},
  };
  std::vector<StatefulDocument> documents;
  for (const Made& m : made) {
    const std::string path = folder + "/" + m.stem + ".ps";
    if (!WriteText(path, m.text)) {
      *error = "cannot write " + path;
      return {};
    }
    documents.push_back(
        {m.name, path, m.stem, m.pages, m.seeded ? std::nullopt : std::optional<int>(kFixedValue)});
  }

  // ps2write's own output, from a plain document of eleven pages.
  const std::string plain = folder + "/plain.ps.in";
  const std::string written = folder + "/ps2write.ps";
  if (!WriteText(plain, std::string(kProlog) + "1 1 11 { " + fixed + loop)) {
    *error = "cannot write " + plain;
    return {};
  }
  const CommandResult ps2ps = RunCommand({"ps2ps", plain, written});
  std::remove(plain.c_str());
  if (ps2ps.exitCode != 0) {
    *error = "ps2ps failed: " + ps2ps.err;
    return {};
  }
  documents.push_back({"ps2write output (ps2ps)", written, "ps2write", OneToN(11), kFixedValue});
  return documents;
}

std::vector<std::string> ImagesOf(const StatefulDocument& document, const std::string& folder,
                                  const std::string& extension) {
  std::vector<std::string> images;
  for (size_t image = 1; image <= document.pages.size(); ++image) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%03zu", image);
    images.push_back(folder + document.stem + suffix + extension);
  }
  return images;
}

std::string CheckImages(const StatefulDocument& document, const std::vector<std::string>& images) {
  std::string error;
  const auto frames = PillowSamples(images, {{0.25, 0.5}, {0.75, 0.5}}, &error);
  if (!frames) return document.name + ": " + error;
  const std::string seen = document.name + ": " + Describe(*frames);
  if (frames->size() != document.pages.size()) {
    return seen + "; " + std::to_string(document.pages.size()) + " images expected";
  }
  const int value = document.value.value_or(frames->empty() ? 0 : (*frames)[0][1][0]);
  for (size_t i = 0; i < frames->size(); ++i) {
    const std::vector<Rgb>& frame = (*frames)[i];
    if (std::abs(frame[0][0] - document.pages[i] * kGreyPerPage) > kTolerance) {
      return seen + "; image " + std::to_string(i + 1) + " should show page " +
             std::to_string(document.pages[i]);
    }
    if (std::abs(frame[1][0] - value) > kTolerance) {
      return seen + "; image " + std::to_string(i + 1) + " should have the value " +
             std::to_string(value);
    }
  }
  return "";
}

}  // namespace orvalis::test
