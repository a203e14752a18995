#pragma once
// Loads the page renderer plug-in, libtavrinx.so, from the program's own folder (dlopen with
// the full path, so no other copy is picked up) and looks up its entry points by name. The
// loaded library is a PageRenderer for the batch driver.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "batch/page_renderer.h"
#include "renderer/tavrinx.h"

namespace orvalis {

inline constexpr std::string_view kRendererLibraryName = "libtavrinx.so";
// The start-up message when the library, one of its entry points or the interpreter is missing.
inline constexpr std::string_view kRendererLoadFailedMessage =
    "Load libtavrinx.so failed, please reinstall!";

class RendererLibrary : public PageRenderer {
 public:
  // Loads libtavrinx.so from `folder` (empty: the program's folder, AppPaths::ModuleFilePath),
  // finds RendererOpen, RenderToBitmaps, RendererClose and RendererAbort (required) and
  // RendererLastError, RendererSetMemoryLimit, RendererPause and RendererSetPageListener
  // (optional: without them a failure has no interpreter text, the interpreter keeps the
  // plug-in's own memory cap, it cannot be held while the pages it wrote wait to be converted,
  // and its pages are found by looking into their folder), and checks that the
  // renderer can open a handle (that is, that gs can be found). On failure: nullptr, `message` gets
  // kRendererLoadFailedMessage and `detail` (when given) what exactly was missing.
  static std::unique_ptr<RendererLibrary> Load(std::string* message, std::string* detail = nullptr,
                                               const std::string& folder = {});

  // Unloads the library; every handle must be closed before.
  ~RendererLibrary() override = default;
  RendererLibrary(const RendererLibrary&) = delete;
  RendererLibrary& operator=(const RendererLibrary&) = delete;

  // PageRenderer.
  int Open() override { return open_(); }
  bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
              int yDpi) override;
  void Close(int handle) override;
  void Abort(int handle) override { abort_(handle); }
  std::string LastError(int handle) override;
  void SetMemoryLimit(int handle, uint64_t bytes) override {
    if (setMemoryLimit_ != nullptr) setMemoryLimit_(handle, bytes);
  }
  void Pause(int handle, bool paused) override {
    if (pause_ != nullptr) pause_(handle, paused ? 1 : 0);
  }
  bool SetPageListener(int handle, PageListener listener) override;
  bool LackedProcess(int handle) override;
  std::optional<int> PageCount(int handle, const std::string& path,
                               const std::string& workFolder) override;
  bool RenderPages(int handle, const std::string& path, const std::string& pattern, int xDpi,
                   int yDpi, int first, int last) override;
  std::optional<int> ExpectedPages(int handle) override {
    const int pages = pagesExpected_ != nullptr ? pagesExpected_(handle) : -1;
    return pages >= 0 ? std::optional<int>(pages) : std::nullopt;
  }
  // The plug-in's line on what confines its interpreter, and whether every protection is
  // active; "" (and false) for a plug-in that does not say.
  std::string Protections(bool* allActive) const;

  // The plug-in's own result: TAVRINX_RENDER_SUCCEEDED, _FAILED or _ABORTED.
  int RenderToBitmaps(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
                      int yDpi) {
    return render_(handle, psPath.c_str(), pattern.c_str(), xDpi, yDpi);
  }

 private:
  // Runs `render` (a call of the plug-in that renders with `handle`, giving its result) with
  // the handle's listeners kept alive; true when it succeeded.
  bool Rendering(int handle, const std::function<int()>& render);

  struct LibraryCloser {
    void operator()(void* library) const;
  };
  using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

 public:
  explicit RendererLibrary(LibraryHandle library) : library_(std::move(library)) {}

 private:
  LibraryHandle library_;
  RendererOpenFn open_ = nullptr;
  RenderToBitmapsFn render_ = nullptr;
  RendererCloseFn close_ = nullptr;
  RendererAbortFn abort_ = nullptr;
  RendererLastErrorFn lastError_ = nullptr;
  RendererSetMemoryLimitFn setMemoryLimit_ = nullptr;
  RendererPauseFn pause_ = nullptr;
  RendererProtectionsFn protections_ = nullptr;
  RendererSetPageListenerFn setPageListener_ = nullptr;
  RendererPageCountFn pageCount_ = nullptr;
  RenderPagesToBitmapsFn renderPages_ = nullptr;
  RendererPagesExpectedFn pagesExpected_ = nullptr;

  std::mutex mutex_;
  // The listeners of each handle: the plug-in holds a pointer to the latest, and a rendering in
  // progress may still call one it replaced, so none goes before the renderings of its handle
  // have returned.
  struct ListenerSlot {
    std::vector<std::shared_ptr<PageListener>> kept;  // the latest last
    bool current = false;                             // the latest is set in the plug-in
    int renderings = 0;                               // Render calls in progress
    bool closed = false;                              // the handle was closed while one was
    void ForgetOld();
  };
  std::map<int, ListenerSlot> listeners_;
  std::map<int, bool> lackedProcess_;  // the last rendering found no process
};

}  // namespace orvalis
