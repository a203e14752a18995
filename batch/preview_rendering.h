#pragma once
// PreviewRendering: a document's pages drawn small for the window's preview, by the same
// confined renderer plug-in as a run (PageRenderer: RendererOpen, RenderToBitmaps), into a
// private page folder of its own (PageFolder), on the thread that calls Render; a stop requested
// from any thread ends it (RendererAbort).
//
// The pages come as the renderer finishes them, in page order: each is handed to the caller,
// which reads it before the call returns (the file is removed afterwards), and says whether it
// wants more. A PostScript program is drawn from its start (its pages depend on what comes
// before them); a compressed document or a DOS EPS file is prepared first, as a run prepares it
// (source_preparation.h).

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "batch/page_renderer.h"
#include "engine/output_formats.h"
#include "settings/conversion_settings.h"

namespace orvalis {

// The resolution the window's preview draws at: the lowest the plug-in draws at (it clamps to
// 72..600 dpi).
inline constexpr int kPreviewDpi = 72;
// The interpreter's memory cap for a preview, far below a run's: the pages are small.
inline constexpr uint64_t kPreviewMemoryCap = uint64_t{512} << 20;
// The most a compressed document may unpack to for a preview.
inline constexpr uint64_t kPreviewUnpackLimit = uint64_t{256} << 20;

class PreviewRendering {
 public:
  explicit PreviewRendering(PageRenderer& renderer) : renderer_(renderer) {}
  PreviewRendering(const PreviewRendering&) = delete;
  PreviewRendering& operator=(const PreviewRendering&) = delete;

  // Page `number` (from 1) finished at `file`; false: no more pages are wanted (the rendering
  // is ended).
  using PageDrawn = std::function<bool(int number, const std::string& file)>;
  struct Outcome {
    int pages = 0;         // pages handed to the caller
    bool whole = false;    // the document was drawn to its end: `pages` is its page count
    bool aborted = false;  // Abort, or the caller wanted no more
    std::string error;     // why it could not be drawn (or not wholly), "" when it was
  };
  // Draws `source` at `dpi` on the calling thread, until its end, a page the caller wants no
  // more after, or `stop`.
  Outcome Render(const std::string& source, int dpi, const PageDrawn& pageDrawn,
                 std::stop_token stop);

 private:
  PageRenderer& renderer_;
};

// Converts the page file `page` as a run with `settings` converts a page (its format, rotation,
// colours, size), into `output`; as PNG instead of the format chosen when `asPng` (for a picture
// of it where the format is one the caller cannot read). "" when it was written, else why not.
std::string ConvertPreviewPage(const std::string& page, const ConversionSettings& settings,
                               const std::string& output, bool asPng);

}  // namespace orvalis
