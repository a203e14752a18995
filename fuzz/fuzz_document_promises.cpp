// Reads arbitrary bytes as what a document promises: a DSC header's page count, the end of a
// file, and a PDF rendering's progress lines as the interpreter prints them. A count found in
// part of a header is the count of the whole; the progress read does not depend on how the
// output arrives in pieces; what is expected is never negative, nor are more pages missing than
// were expected.
#include <cstdlib>
#include <string_view>

#include "fuzz/seed_corpus.h"
#include "renderer/declared_pages.h"
#include "renderer/interpreter_output.h"

namespace {

orvalis::test::Bytes BytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<orvalis::test::Seed> Seeds() {
  return {{"dsc", BytesOf("%!PS-Adobe-3.0\n%%Creator: groff\n%%Pages: 87\n%%EndComments\n"
                          "showpage\n%%EOF\n")},
          {"atend", BytesOf("%!PS-Adobe-2.0\r\n%%Pages: (atend)\r\n%%Pages: 3 1\r\n")},
          {"progress", BytesOf("Processing pages 3 through 9.\nPage 3\nPage 4\n"
                               "   **** Error: page not found.\nPage 9\n")}};
}

orvalis::renderer::PdfProgress Read(std::string_view text, size_t cut) {
  orvalis::renderer::InterpreterOutput output(true);
  output.Append(text.substr(0, cut));
  output.Append(text.substr(cut));
  output.Finish();
  return output.Progress();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&Seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvalis::renderer;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<int> whole = HeaderPageCount(text);
  if (whole && (*whole < 0 || !text.starts_with("%!PS-Adobe-"))) std::abort();
  if (const std::optional<int> part = HeaderPageCount(text.substr(0, size / 2));
      part && part != whole)
    std::abort();
  (void)EndsWithEof(text);

  const PdfProgress once = Read(text, size);
  const PdfProgress split = Read(text, size / 3);
  if (once.first != split.first || once.last != split.last || once.begun != split.begun)
    std::abort();
  const std::optional<int> expected = once.Expected();
  if (expected && *expected < 0) std::abort();
  if (const auto notBegun = once.NotBegun();
      notBegun && expected && notBegun->size() > static_cast<size_t>(*expected))
    std::abort();
  return 0;
}
