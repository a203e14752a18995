// The exported entry points of libtavrinx.so over a table of render sessions.

#include "renderer/tavrinx.h"

#include <climits>
#include <map>
#include <memory>
#include <mutex>

#include "renderer/gs_arguments.h"
#include "renderer/kernel_protections.h"
#include "renderer/render_session.h"

namespace orvalis::renderer {

namespace {

// Handles are small positive integers, never reused while the library is loaded. A session is
// shared: a rendering in progress keeps its session alive when another thread closes the
// handle.
class SessionTable {
 public:
  int Add(std::shared_ptr<RenderSession> session) {
    std::lock_guard lock(mutex_);
    if (next_ == INT_MAX) return 0;
    const int handle = next_++;
    sessions_.emplace(handle, std::move(session));
    return handle;
  }

  std::shared_ptr<RenderSession> Find(int handle) {
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : it->second;
  }

  std::shared_ptr<RenderSession> Remove(int handle) {
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(handle);
    if (it == sessions_.end()) return nullptr;
    std::shared_ptr<RenderSession> session = std::move(it->second);
    sessions_.erase(it);
    return session;
  }

 private:
  std::mutex mutex_;
  std::map<int, std::shared_ptr<RenderSession>> sessions_;
  int next_ = 1;
};

SessionTable& Sessions() {
  static SessionTable table;
  return table;
}

constexpr const char* kInvalidHandle = "invalid renderer handle";

}  // namespace

}  // namespace orvalis::renderer

using orvalis::renderer::RenderSession;
using orvalis::renderer::Sessions;

extern "C" {

TAVRINX_EXPORT int RendererOpen(void) {
  const std::optional<std::string> gs = orvalis::renderer::FindProgramOnPath("gs");
  if (!gs) return 0;
  return Sessions().Add(std::make_shared<RenderSession>(*gs));
}

TAVRINX_EXPORT int RenderToBitmaps(int handle, const char* psPath, const char* outputPattern,
                                   int xdpi, int ydpi) {
  const std::shared_ptr<RenderSession> session = Sessions().Find(handle);
  if (!session) return TAVRINX_RENDER_FAILED;
  return session->Render(psPath, outputPattern, xdpi, ydpi);
}

TAVRINX_EXPORT int RendererPageCount(int handle, const char* pdfPath, const char* workFolder) {
  const std::shared_ptr<RenderSession> session = Sessions().Find(handle);
  if (!session) return -1;
  int count = -1;
  return session->CountPages(pdfPath, workFolder, &count) == TAVRINX_RENDER_SUCCEEDED ? count : -1;
}

TAVRINX_EXPORT int RenderPagesToBitmaps(int handle, const char* pdfPath, const char* outputPattern,
                                        int xdpi, int ydpi, int firstPage, int lastPage) {
  const std::shared_ptr<RenderSession> session = Sessions().Find(handle);
  if (!session) return TAVRINX_RENDER_FAILED;
  return session->Render(pdfPath, outputPattern, xdpi, ydpi,
                         orvalis::renderer::PageRange{firstPage, lastPage});
}

TAVRINX_EXPORT void RendererAbort(int handle) {
  if (const std::shared_ptr<RenderSession> session = Sessions().Find(handle)) session->Abort();
}

TAVRINX_EXPORT void RendererClose(int handle) {
  if (const std::shared_ptr<RenderSession> session = Sessions().Remove(handle)) session->Abort();
}

TAVRINX_EXPORT void RendererSetMemoryLimit(int handle, unsigned long long bytes) {
  if (const std::shared_ptr<RenderSession> session = Sessions().Find(handle))
    session->SetAddressSpaceLimit(bytes);
}

TAVRINX_EXPORT void RendererPause(int handle, int paused) {
  if (const std::shared_ptr<RenderSession> session = Sessions().Find(handle))
    session->Pause(paused != 0);
}

TAVRINX_EXPORT void RendererSetPageListener(int handle, RendererPageListener listener,
                                            void* context) {
  if (const std::shared_ptr<RenderSession> session = Sessions().Find(handle))
    session->SetPageListener(listener, context);
}

TAVRINX_EXPORT const char* RendererLastError(int handle) {
  const std::shared_ptr<RenderSession> session = Sessions().Find(handle);
  return session ? session->LastError() : orvalis::renderer::kInvalidHandle;
}

TAVRINX_EXPORT int RendererPagesExpected(int handle) {
  const std::shared_ptr<RenderSession> session = Sessions().Find(handle);
  return session ? session->ExpectedPages() : -1;
}

TAVRINX_EXPORT const char* RendererProtections(int* allActive) {
  const orvalis::renderer::KernelProtections& kernel = orvalis::renderer::ThisKernelProtections();
  static const std::string text = orvalis::renderer::DescribeProtections(kernel);
  if (allActive != nullptr) *allActive = kernel.Complete() ? 1 : 0;
  return text.c_str();
}

}  // extern "C"
