#include "batch/renderer_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "settings/app_paths.h"

namespace orvalis {

namespace {

template <typename Function>
bool LookUp(void* library, const char* name, Function* function, std::string* detail) {
  *function = reinterpret_cast<Function>(::dlsym(library, name));
  if (*function == nullptr && detail != nullptr) {
    *detail = std::string("the entry point ") + name + " is missing";
  }
  return *function != nullptr;
}

}  // namespace

void RendererLibrary::LibraryCloser::operator()(void* library) const {
  ::dlclose(library);
}

std::unique_ptr<RendererLibrary> RendererLibrary::Load(std::string* message, std::string* detail,
                                                       const std::string& folder) {
  auto fail = [&]() -> std::unique_ptr<RendererLibrary> {
    if (message != nullptr) *message = kRendererLoadFailedMessage;
    return nullptr;
  };
  std::string path = folder.empty() ? AppPaths::ModuleFilePath("") : folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += kRendererLibraryName;

  // dlopen reads whatever is there: a named pipe would block it for good, a device could feed it.
  if (struct stat info{}; ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    if (detail != nullptr) *detail = path + " is not a regular file";
    return fail();
  }
  LibraryHandle library(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) {
    const char* reason = ::dlerror();
    if (detail != nullptr) *detail = reason != nullptr ? reason : "cannot load " + path;
    return fail();
  }
  auto renderer = std::make_unique<RendererLibrary>(std::move(library));
  void* handle = renderer->library_.get();
  if (!LookUp(handle, "RendererOpen", &renderer->open_, detail) ||
      !LookUp(handle, "RenderToBitmaps", &renderer->render_, detail) ||
      !LookUp(handle, "RendererClose", &renderer->close_, detail) ||
      !LookUp(handle, "RendererAbort", &renderer->abort_, detail)) {
    return fail();
  }
  LookUp(handle, "RendererLastError", &renderer->lastError_, nullptr);
  LookUp(handle, "RendererSetMemoryLimit", &renderer->setMemoryLimit_, nullptr);
  LookUp(handle, "RendererPause", &renderer->pause_, nullptr);
  LookUp(handle, "RendererProtections", &renderer->protections_, nullptr);
  LookUp(handle, "RendererSetPageListener", &renderer->setPageListener_, nullptr);
  LookUp(handle, "RendererPageCount", &renderer->pageCount_, nullptr);
  LookUp(handle, "RenderPagesToBitmaps", &renderer->renderPages_, nullptr);
  LookUp(handle, "RendererPagesExpected", &renderer->pagesExpected_, nullptr);
  const int probe = renderer->open_();
  if (probe <= 0) {
    if (detail != nullptr) *detail = "Ghostscript (gs) was not found on PATH";
    return fail();
  }
  renderer->close_(probe);
  return renderer;
}

bool RendererLibrary::Render(int handle, const std::string& psPath, const std::string& pattern,
                             int xDpi, int yDpi) {
  return Rendering(handle, [&] { return RenderToBitmaps(handle, psPath, pattern, xDpi, yDpi); });
}

bool RendererLibrary::RenderPages(int handle, const std::string& path, const std::string& pattern,
                                  int xDpi, int yDpi, int first, int last) {
  if (renderPages_ == nullptr) return false;
  return Rendering(handle, [&] {
    return renderPages_(handle, path.c_str(), pattern.c_str(), xDpi, yDpi, first, last);
  });
}

std::optional<int> RendererLibrary::PageCount(int handle, const std::string& path,
                                              const std::string& workFolder) {
  if (pageCount_ == nullptr) return std::nullopt;
  const int count = pageCount_(handle, path.c_str(), workFolder.c_str());
  if (count < 0) return std::nullopt;
  return count;
}

bool RendererLibrary::Rendering(int handle, const std::function<int()>& render) {
  {
    std::lock_guard lock(mutex_);
    ++listeners_[handle].renderings;
  }
  const int result = render();
  std::lock_guard lock(mutex_);
  lackedProcess_[handle] = result == TAVRINX_RENDER_NO_PROCESS;
  ListenerSlot& slot = listeners_[handle];
  if (--slot.renderings == 0) slot.ForgetOld();
  if (slot.renderings == 0 && slot.closed) listeners_.erase(handle);
  return result == TAVRINX_RENDER_SUCCEEDED;
}

void RendererLibrary::Close(int handle) {
  close_(handle);
  std::lock_guard lock(mutex_);
  lackedProcess_.erase(handle);
  const auto it = listeners_.find(handle);
  if (it == listeners_.end()) return;
  // A rendering still running on another thread may report one more page: its listener stays
  // until that rendering has returned.
  if (it->second.renderings > 0) {
    it->second.closed = true;
  } else {
    listeners_.erase(it);
  }
}

void RendererLibrary::ListenerSlot::ForgetOld() {
  if (kept.size() > 1) kept.erase(kept.begin(), kept.end() - 1);
  if (!current) kept.clear();
}

bool RendererLibrary::SetPageListener(int handle, PageListener listener) {
  if (setPageListener_ == nullptr) return false;
  if (!listener) {
    setPageListener_(handle, nullptr, nullptr);
    std::lock_guard lock(mutex_);
    ListenerSlot& slot = listeners_[handle];
    slot.current = false;
    if (slot.renderings == 0) slot.ForgetOld();
    return true;
  }
  auto owned = std::make_shared<PageListener>(std::move(listener));
  {
    // Kept beside any listener it replaces: a rendering in progress may still be calling that.
    std::lock_guard lock(mutex_);
    ListenerSlot& slot = listeners_[handle];
    slot.kept.push_back(owned);
    slot.current = true;
    if (slot.renderings == 0) slot.ForgetOld();
  }
  setPageListener_(
      handle, [](void* self, const char* page) { (*static_cast<PageListener*>(self))(page); },
      owned.get());
  return true;
}

bool RendererLibrary::LackedProcess(int handle) {
  std::lock_guard lock(mutex_);
  const auto it = lackedProcess_.find(handle);
  return it != lackedProcess_.end() && it->second;
}

std::string RendererLibrary::LastError(int handle) {
  if (lastError_ == nullptr) return "";
  const char* text = lastError_(handle);
  return text != nullptr ? text : "";
}

std::string RendererLibrary::Protections(bool* allActive) const {
  int all = 0;
  const char* text = protections_ != nullptr ? protections_(&all) : nullptr;
  *allActive = text != nullptr && all != 0;
  return text != nullptr ? text : "";
}

}  // namespace orvalis
