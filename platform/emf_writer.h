#pragma once
// Records of the enhanced metafile format, [MS-EMF]
// (https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-emf/): the EMR_HEADER
// with both header extensions and the description, object records, EMR_RECTANGLE,
// EMR_SETSTRETCHBLTMODE, EMR_STRETCHDIBITS and EMR_EOF. Logical units are pixels of the
// reference device (the default MM_TEXT mapping).

#include <optional>
#include <string>
#include <string_view>

#include "platform/metafile_recorder.h"

namespace orvalis::gdi {

namespace emf {
inline constexpr uint32_t EMR_HEADER = 1;
inline constexpr uint32_t EMR_EOF = 14;
inline constexpr uint32_t EMR_SETSTRETCHBLTMODE = 21;
inline constexpr uint32_t EMR_SELECTOBJECT = 37;
inline constexpr uint32_t EMR_CREATEPEN = 38;
inline constexpr uint32_t EMR_CREATEBRUSHINDIRECT = 39;
inline constexpr uint32_t EMR_DELETEOBJECT = 40;
inline constexpr uint32_t EMR_RECTANGLE = 43;
inline constexpr uint32_t EMR_STRETCHDIBITS = 81;
inline constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
inline constexpr uint32_t kVersion = 0x00010000;
inline constexpr uint32_t kStockObjectFlag = 0x80000000;
// The fixed part of the header: the base header and extensions 1 and 2.
inline constexpr uint32_t kHeaderBytes = 108;
}  // namespace emf

class EmfWriter : public RecordWriter {
 public:
  EmfWriter(RecordSink& sink, const ReferenceDevice& device, std::optional<RECT> frame,
            std::string_view description);

  uint32_t FirstSlot() const override { return 1; }  // slot 0 stands for the metafile itself
  uint32_t SlotLimit() const override { return 0xFFFF; }
  bool SelectsStockDirectly() const override { return true; }

  bool Begin() override;
  bool CreatePen(uint32_t slot, const LogPen& pen) override;
  bool CreateBrush(uint32_t slot, const LogBrush& brush) override;
  bool SelectSlot(uint32_t slot) override;
  bool SelectStock(int stockIndex) override;
  bool DeleteSlot(uint32_t slot) override;
  bool Rectangle(const RECT& box, int penWidth) override;
  bool SetStretchBltMode(int mode) override;
  bool StretchDIBits(const StretchArgs& args, const DibLayout& dib) override;
  bool End(uint32_t tableSize) override;

 private:
  bool WriteRecord(const std::vector<uint8_t>& record);
  // Adds the inclusive rectangle of device pixels a drawing call touched to the bounds.
  void AddBounds(int64_t left, int64_t top, int64_t right, int64_t bottom);
  std::vector<uint8_t> Header(uint32_t handles) const;
  RECT FrameFromBounds() const;

  ReferenceDevice device_;
  std::optional<RECT> frame_;
  std::u16string description_;
  uint32_t headerBytes_;
  uint32_t records_ = 0;
  bool hasBounds_ = false;
  int64_t boundsLeft_ = 0, boundsTop_ = 0, boundsRight_ = -1, boundsBottom_ = -1;
};

}  // namespace orvalis::gdi
