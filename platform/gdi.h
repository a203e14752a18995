#pragma once
// A small GDI of our own: the calls the converter uses to record pages into Windows metafiles.
//
// Device contexts, pens, brushes and finished metafiles are handles, as in GDI; every call
// checks its handle and fails (false, nullptr or 0) on one it does not know, so a stale handle
// can never reach freed memory. A metafile context records each drawing call as a record of
// the enhanced metafile format ([MS-EMF],
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-emf/) or of the classic
// Windows metafile format ([MS-WMF],
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-wmf/).
//
// The "screen" is a fixed reference device (1920 x 1080 pixels on 508 x 286 mm, 96 dots per
// inch) that tests may replace with SetScreenDevice.
//
// A recording that cannot be carried out in full (a drawing call the format cannot hold, a
// write error) is spoiled: its close call returns nullptr and removes what it wrote, so no
// metafile that lacks part of its drawing is ever left behind. GetLastErrorText says why.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace orvalis::gdi {

using COLORREF = uint32_t;  // 0x00bbggrr

constexpr COLORREF RGB(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<COLORREF>(red) | (static_cast<COLORREF>(green) << 8) |
         (static_cast<COLORREF>(blue) << 16);
}

// Logical coordinates; right and bottom are exclusive for drawing calls.
struct RECT {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// GetDeviceCaps indices.
inline constexpr int HORZSIZE = 4;     // width in millimetres
inline constexpr int VERTSIZE = 6;     // height in millimetres
inline constexpr int HORZRES = 8;      // width in pixels
inline constexpr int VERTRES = 10;     // height in pixels
inline constexpr int LOGPIXELSX = 88;  // pixels per logical inch
inline constexpr int LOGPIXELSY = 90;

// Pen styles and the one brush style offered.
inline constexpr int PS_SOLID = 0;
inline constexpr int PS_DASH = 1;
inline constexpr int PS_DOT = 2;
inline constexpr int PS_DASHDOT = 3;
inline constexpr int PS_DASHDOTDOT = 4;
inline constexpr int PS_NULL = 5;
inline constexpr int PS_INSIDEFRAME = 6;
inline constexpr uint32_t BS_SOLID = 0;

// Stock objects (GetStockObject); every context starts with BLACK_PEN and WHITE_BRUSH.
inline constexpr int WHITE_BRUSH = 0;
inline constexpr int LTGRAY_BRUSH = 1;
inline constexpr int GRAY_BRUSH = 2;
inline constexpr int DKGRAY_BRUSH = 3;
inline constexpr int BLACK_BRUSH = 4;
inline constexpr int NULL_BRUSH = 5;
inline constexpr int WHITE_PEN = 6;
inline constexpr int BLACK_PEN = 7;
inline constexpr int NULL_PEN = 8;

// Stretch modes.
inline constexpr int BLACKONWHITE = 1;
inline constexpr int WHITEONBLACK = 2;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;

inline constexpr uint32_t DIB_RGB_COLORS = 0;
inline constexpr uint32_t SRCCOPY = 0x00CC0020;

// The reference device: what GetDeviceCaps reports for the screen.
struct ReferenceDevice {
  int32_t widthPixels = 1920;
  int32_t heightPixels = 1080;
  int32_t widthMillimeters = 508;
  int32_t heightMillimeters = 286;
};

ReferenceDevice ScreenDevice();
// Replaces the screen's figures for contexts made from now on; values below 1 are refused.
bool SetScreenDevice(const ReferenceDevice& device);

class DeviceContext;
class GdiObject;
class EnhMetafile;
class Metafile;
using HDC = DeviceContext*;
using HGDIOBJ = GdiObject*;
using HPEN = GdiObject*;
using HBRUSH = GdiObject*;
using HENHMETAFILE = EnhMetafile*;
using HMETAFILE = Metafile*;

// ---- Device contexts ----
// The screen's context (the window argument must be null: there are no windows here).
HDC GetDC(std::nullptr_t window);
int ReleaseDC(std::nullptr_t window, HDC dc);
// HORZSIZE, VERTSIZE, HORZRES, VERTRES, LOGPIXELSX, LOGPIXELSY of the context's reference
// device; 0 for an unknown index or handle.
int GetDeviceCaps(HDC dc, int index);

// ---- Enhanced metafiles ----
// Records into `fileName` (created or cut to nothing). `reference` supplies the device
// figures (null: the screen). `frame`, in 0.01 mm, is stored as given; null lets the close
// call compute it from what was drawn. `description` is stored as it stands, embedded NULs
// included: application name, NUL, picture name, NUL, NUL.
HDC CreateEnhMetaFileA(HDC reference, const char* fileName, const RECT* frame,
                       std::string_view description);
// The same into a file the caller opened for writing (seekable) and keeps: the close call
// flushes it and leaves it open; a spoiled recording leaves it as it stands.
HDC CreateEnhMetaFileOnFile(HDC reference, std::FILE* file, const RECT* frame,
                            std::string_view description);
HENHMETAFILE CloseEnhMetaFile(HDC dc);
// Frees the handle; the file stays on disk.
bool DeleteEnhMetaFile(HENHMETAFILE metafile);

// ---- Classic metafiles (no placeable header) ----
HDC CreateMetaFileA(const char* fileName);
HDC CreateMetaFileOnFile(std::FILE* file);
HMETAFILE CloseMetaFile(HDC dc);
bool DeleteMetaFile(HMETAFILE metafile);

// Ends a recording without finishing it: the context is freed and a file it created is
// removed. For callers that give up half-way (the RAII wrapper below uses it).
bool DiscardMetaFile(HDC dc);

// ---- Objects ----
HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
HGDIOBJ GetStockObject(int index);
// Returns the object of the same kind that was selected before, nullptr on failure.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Fails for an object that is still selected into a context; stock objects are never freed.
bool DeleteObject(HGDIOBJ object);

// ---- Drawing ----
bool Rectangle(HDC dc, int left, int top, int right, int bottom);
// Returns the previous mode, 0 on failure.
int SetStretchBltMode(HDC dc, int mode);
// `bitmapInfo` is a packed BITMAPINFO as it lies in memory: a 40-byte little-endian
// BITMAPINFOHEADER (uncompressed, 1, 4, 8, 16, 24 or 32 bits per pixel) and its colour table.
// `bits` holds the rows it describes. Returns the number of rows drawn, 0 on failure.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const void* bitmapInfo,
                  uint32_t usage, uint32_t rasterOp);

// Why the last failing call of this thread failed.
std::string GetLastErrorText();

// ---- RAII ----

// The screen's context for one scope.
class ScreenDC {
 public:
  ScreenDC() : dc_(GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// A pen or brush deleted at the end of the scope.
class UniqueGdiObject {
 public:
  explicit UniqueGdiObject(HGDIOBJ object) : object_(object) {}
  ~UniqueGdiObject() {
    if (object_ != nullptr) DeleteObject(object_);
  }
  UniqueGdiObject(const UniqueGdiObject&) = delete;
  UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
  HGDIOBJ get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Deletes the object now.
  void reset() {
    if (object_ != nullptr) DeleteObject(object_);
    object_ = nullptr;
  }

 private:
  HGDIOBJ object_;
};

// A metafile recording that is discarded unless it was handed on with release().
class UniqueMetafileDC {
 public:
  explicit UniqueMetafileDC(HDC dc) : dc_(dc) {}
  ~UniqueMetafileDC() {
    if (dc_ != nullptr) DiscardMetaFile(dc_);
  }
  UniqueMetafileDC(const UniqueMetafileDC&) = delete;
  UniqueMetafileDC& operator=(const UniqueMetafileDC&) = delete;
  HDC get() const { return dc_; }
  HDC release() {
    HDC dc = dc_;
    dc_ = nullptr;
    return dc;
  }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_;
};

}  // namespace orvalis::gdi
