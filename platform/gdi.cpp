#include "platform/gdi.h"

#include <array>
#include <cmath>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/emf_writer.h"
#include "platform/metafile_recorder.h"
#include "platform/wmf_writer.h"

namespace orvalis::gdi {

// A finished metafile: what its handle stands for until it is deleted.
class EnhMetafile {
 public:
  std::string fileName;
  uint64_t bytes = 0;
};

class Metafile {
 public:
  std::string fileName;
  uint64_t bytes = 0;
};

namespace {

thread_local std::string lastError;

template <typename Result>
Result Failed(std::string reason, Result result) {
  lastError = std::move(reason);
  return result;
}

template <typename T>
using HandleTable = std::unordered_map<const T*, std::unique_ptr<T>>;

// Every handle the layer gave out. One lock serialises the calls, as GDI does for objects
// shared between threads; a handle not in the tables is refused.
struct Registry {
  Registry();

  std::mutex mutex;
  ReferenceDevice screen;
  std::array<GdiObject, 9> stock;
  HandleTable<DeviceContext> contexts;
  HandleTable<GdiObject> objects;
  HandleTable<EnhMetafile> enhMetafiles;
  HandleTable<Metafile> metafiles;

  DeviceContext* Context(HDC dc) const {
    const auto it = contexts.find(dc);
    return it == contexts.end() ? nullptr : it->second.get();
  }
  const GdiObject* Object(HGDIOBJ object) const {
    for (const GdiObject& s : stock)
      if (&s == object) return &s;
    const auto it = objects.find(object);
    return it == objects.end() ? nullptr : it->second.get();
  }
  const GdiObject* DefaultPen() const { return &stock[BLACK_PEN]; }
  const GdiObject* DefaultBrush() const { return &stock[WHITE_BRUSH]; }
};

Registry::Registry() {
  constexpr uint32_t kNullBrushStyle = 1;  // BS_NULL
  stock[WHITE_BRUSH] = GdiObject::MakeBrush({BS_SOLID, RGB(255, 255, 255), 0}, WHITE_BRUSH);
  stock[LTGRAY_BRUSH] = GdiObject::MakeBrush({BS_SOLID, RGB(192, 192, 192), 0}, LTGRAY_BRUSH);
  stock[GRAY_BRUSH] = GdiObject::MakeBrush({BS_SOLID, RGB(128, 128, 128), 0}, GRAY_BRUSH);
  stock[DKGRAY_BRUSH] = GdiObject::MakeBrush({BS_SOLID, RGB(64, 64, 64), 0}, DKGRAY_BRUSH);
  stock[BLACK_BRUSH] = GdiObject::MakeBrush({BS_SOLID, RGB(0, 0, 0), 0}, BLACK_BRUSH);
  stock[NULL_BRUSH] = GdiObject::MakeBrush({kNullBrushStyle, 0, 0}, NULL_BRUSH);
  stock[WHITE_PEN] = GdiObject::MakePen({PS_SOLID, 1, RGB(255, 255, 255)}, WHITE_PEN);
  stock[BLACK_PEN] = GdiObject::MakePen({PS_SOLID, 1, RGB(0, 0, 0)}, BLACK_PEN);
  stock[NULL_PEN] = GdiObject::MakePen({PS_NULL, 1, 0}, NULL_PEN);
}

Registry& Gdi() {
  static Registry registry;
  return registry;
}

// Looks up a metafile context of one kind; nullptr with the reason otherwise.
DeviceContext* RecordingContext(Registry& gdi, HDC dc, ContextKind kind, const char* call) {
  DeviceContext* context = gdi.Context(dc);
  if (context == nullptr || context->Kind() != kind || !context->IsRecording()) {
    return Failed(std::string(call) + ": the handle is not an open metafile context of that kind",
                  static_cast<DeviceContext*>(nullptr));
  }
  return context;
}

HDC StartRecording(Registry& gdi, ContextKind kind, const ReferenceDevice& device,
                   std::unique_ptr<RecordSink> sink, std::unique_ptr<RecordWriter> writer) {
  auto context = std::make_unique<DeviceContext>(kind, device, gdi.DefaultPen(), gdi.DefaultBrush(),
                                                 std::move(sink), std::move(writer));
  std::string error;
  if (!context->Begin(&error)) return Failed(error, static_cast<HDC>(nullptr));
  HDC handle = context.get();
  gdi.contexts.emplace(handle, std::move(context));
  return handle;
}

HDC CreateEnhancedRecording(HDC reference, std::unique_ptr<RecordSink> sink, const RECT* frame,
                            std::string_view description) {
  Registry& gdi = Gdi();
  ReferenceDevice device = gdi.screen;
  if (reference != nullptr) {
    const DeviceContext* context = gdi.Context(reference);
    if (context == nullptr) {
      return Failed("CreateEnhMetaFileA: the reference is not a device context",
                    static_cast<HDC>(nullptr));
    }
    device = context->Device();
  }
  auto writer = std::make_unique<EmfWriter>(
      *sink, device, frame != nullptr ? std::optional<RECT>(*frame) : std::nullopt, description);
  return StartRecording(gdi, ContextKind::EnhancedMetafile, device, std::move(sink),
                        std::move(writer));
}

HDC CreateClassicRecording(std::unique_ptr<RecordSink> sink) {
  Registry& gdi = Gdi();
  auto writer = std::make_unique<WmfWriter>(*sink);
  return StartRecording(gdi, ContextKind::ClassicMetafile, gdi.screen, std::move(sink),
                        std::move(writer));
}

// Ends a recording of one kind; false with the reason when it was spoiled or not written.
bool FinishRecording(Registry& gdi, HDC dc, ContextKind kind, const char* call,
                     std::string* fileName, uint64_t* bytes) {
  DeviceContext* context = RecordingContext(gdi, dc, kind, call);
  if (context == nullptr) return false;
  std::string error;
  const bool ok = context->Close(fileName, bytes, &error);
  gdi.contexts.erase(dc);
  return ok || Failed(error, false);
}

int LogicalPixelsPerInch(int32_t pixels, int32_t millimeters) {
  return static_cast<int>(std::lround(pixels * 25.4 / millimeters));
}

}  // namespace

ReferenceDevice ScreenDevice() {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  return gdi.screen;
}

bool SetScreenDevice(const ReferenceDevice& device) {
  if (device.widthPixels < 1 || device.heightPixels < 1 || device.widthMillimeters < 1 ||
      device.heightMillimeters < 1) {
    return Failed("SetScreenDevice: every figure of the device must be at least 1", false);
  }
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  gdi.screen = device;
  return true;
}

HDC GetDC(std::nullptr_t) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  auto context = std::make_unique<DeviceContext>(ContextKind::Screen, gdi.screen, gdi.DefaultPen(),
                                                 gdi.DefaultBrush());
  HDC handle = context.get();
  gdi.contexts.emplace(handle, std::move(context));
  return handle;
}

int ReleaseDC(std::nullptr_t, HDC dc) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  const DeviceContext* context = gdi.Context(dc);
  if (context == nullptr || context->Kind() != ContextKind::Screen) {
    return Failed("ReleaseDC: the handle is not a screen context", 0);
  }
  gdi.contexts.erase(dc);
  return 1;
}

int GetDeviceCaps(HDC dc, int index) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  const DeviceContext* context = gdi.Context(dc);
  if (context == nullptr) return Failed("GetDeviceCaps: the handle is not a device context", 0);
  const ReferenceDevice& device = context->Device();
  switch (index) {
    case HORZSIZE:
      return device.widthMillimeters;
    case VERTSIZE:
      return device.heightMillimeters;
    case HORZRES:
      return device.widthPixels;
    case VERTRES:
      return device.heightPixels;
    case LOGPIXELSX:
      return LogicalPixelsPerInch(device.widthPixels, device.widthMillimeters);
    case LOGPIXELSY:
      return LogicalPixelsPerInch(device.heightPixels, device.heightMillimeters);
    default:
      return Failed("GetDeviceCaps: unknown index " + std::to_string(index), 0);
  }
}

HDC CreateEnhMetaFileA(HDC reference, const char* fileName, const RECT* frame,
                       std::string_view description) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  std::string error;
  std::unique_ptr<RecordSink> sink = RecordSink::CreateFile(fileName, &error);
  if (!sink) return Failed("CreateEnhMetaFileA: " + error, static_cast<HDC>(nullptr));
  return CreateEnhancedRecording(reference, std::move(sink), frame, description);
}

HDC CreateEnhMetaFileOnFile(HDC reference, std::FILE* file, const RECT* frame,
                            std::string_view description) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  std::string error;
  std::unique_ptr<RecordSink> sink = RecordSink::Borrow(file, &error);
  if (!sink) return Failed("CreateEnhMetaFileOnFile: " + error, static_cast<HDC>(nullptr));
  return CreateEnhancedRecording(reference, std::move(sink), frame, description);
}

HENHMETAFILE CloseEnhMetaFile(HDC dc) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  auto metafile = std::make_unique<EnhMetafile>();
  if (!FinishRecording(gdi, dc, ContextKind::EnhancedMetafile, "CloseEnhMetaFile",
                       &metafile->fileName, &metafile->bytes)) {
    return nullptr;
  }
  HENHMETAFILE handle = metafile.get();
  gdi.enhMetafiles.emplace(handle, std::move(metafile));
  return handle;
}

bool DeleteEnhMetaFile(HENHMETAFILE metafile) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  return gdi.enhMetafiles.erase(metafile) == 1 ||
         Failed("DeleteEnhMetaFile: the handle is not an enhanced metafile", false);
}

HDC CreateMetaFileA(const char* fileName) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  std::string error;
  std::unique_ptr<RecordSink> sink = RecordSink::CreateFile(fileName, &error);
  if (!sink) return Failed("CreateMetaFileA: " + error, static_cast<HDC>(nullptr));
  return CreateClassicRecording(std::move(sink));
}

HDC CreateMetaFileOnFile(std::FILE* file) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  std::string error;
  std::unique_ptr<RecordSink> sink = RecordSink::Borrow(file, &error);
  if (!sink) return Failed("CreateMetaFileOnFile: " + error, static_cast<HDC>(nullptr));
  return CreateClassicRecording(std::move(sink));
}

HMETAFILE CloseMetaFile(HDC dc) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  auto metafile = std::make_unique<Metafile>();
  if (!FinishRecording(gdi, dc, ContextKind::ClassicMetafile, "CloseMetaFile", &metafile->fileName,
                       &metafile->bytes)) {
    return nullptr;
  }
  HMETAFILE handle = metafile.get();
  gdi.metafiles.emplace(handle, std::move(metafile));
  return handle;
}

bool DeleteMetaFile(HMETAFILE metafile) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  return gdi.metafiles.erase(metafile) == 1 ||
         Failed("DeleteMetaFile: the handle is not a metafile", false);
}

bool DiscardMetaFile(HDC dc) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  DeviceContext* context = gdi.Context(dc);
  if (context == nullptr || !context->IsRecording()) return false;
  context->Discard();
  gdi.contexts.erase(dc);
  return true;
}

HPEN CreatePen(int style, int width, COLORREF color) {
  if (style < PS_SOLID || style > PS_INSIDEFRAME || width < 0) {
    return Failed("CreatePen: style " + std::to_string(style) + " or width " +
                      std::to_string(width) + " is not valid",
                  static_cast<HPEN>(nullptr));
  }
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  auto object = std::make_unique<GdiObject>(GdiObject::MakePen({style, width, color}));
  HPEN handle = object.get();
  gdi.objects.emplace(handle, std::move(object));
  return handle;
}

HBRUSH CreateSolidBrush(COLORREF color) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  auto object = std::make_unique<GdiObject>(GdiObject::MakeBrush({BS_SOLID, color, 0}));
  HBRUSH handle = object.get();
  gdi.objects.emplace(handle, std::move(object));
  return handle;
}

HGDIOBJ GetStockObject(int index) {
  if (index < WHITE_BRUSH || index > NULL_PEN) {
    return Failed("GetStockObject: no stock object " + std::to_string(index),
                  static_cast<HGDIOBJ>(nullptr));
  }
  return &Gdi().stock[static_cast<size_t>(index)];
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  DeviceContext* context = gdi.Context(dc);
  const GdiObject* selected = gdi.Object(object);
  if (context == nullptr || selected == nullptr) {
    return Failed("SelectObject: unknown device context or object", static_cast<HGDIOBJ>(nullptr));
  }
  std::string error;
  const GdiObject* previous = context->Select(selected, &error);
  if (previous == nullptr) return Failed("SelectObject: " + error, static_cast<HGDIOBJ>(nullptr));
  return const_cast<GdiObject*>(previous);
}

bool DeleteObject(HGDIOBJ object) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  const GdiObject* found = gdi.Object(object);
  if (found == nullptr) return Failed("DeleteObject: unknown object", false);
  if (found->IsStock()) return true;
  for (const auto& [handle, context] : gdi.contexts) {
    if (context->Holds(found)) {
      return Failed("DeleteObject: the object is still selected into a device context", false);
    }
  }
  for (const auto& [handle, context] : gdi.contexts) context->Forget(found);
  gdi.objects.erase(found);
  return true;
}

bool Rectangle(HDC dc, int left, int top, int right, int bottom) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  DeviceContext* context = gdi.Context(dc);
  if (context == nullptr) return Failed("Rectangle: unknown device context", false);
  std::string error;
  return context->Rectangle({left, top, right, bottom}, &error) ||
         Failed("Rectangle: " + error, false);
}

int SetStretchBltMode(HDC dc, int mode) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  DeviceContext* context = gdi.Context(dc);
  if (context == nullptr) return Failed("SetStretchBltMode: unknown device context", 0);
  std::string error;
  const int previous = context->SetStretchBltMode(mode, &error);
  return previous != 0 ? previous : Failed("SetStretchBltMode: " + error, 0);
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const void* bitmapInfo,
                  uint32_t usage, uint32_t rasterOp) {
  Registry& gdi = Gdi();
  std::lock_guard lock(gdi.mutex);
  DeviceContext* context = gdi.Context(dc);
  if (context == nullptr) return Failed("StretchDIBits: unknown device context", 0);
  const StretchArgs args{xDest, yDest,    destWidth, destHeight, xSrc,
                         ySrc,  srcWidth, srcHeight, usage,      rasterOp};
  std::string error;
  int rows = 0;
  if (!context->StretchDIBits(args, bits, bitmapInfo, &rows, &error)) {
    return Failed("StretchDIBits: " + error, 0);
  }
  return rows;
}

std::string GetLastErrorText() {
  return lastError;
}

}  // namespace orvalis::gdi
