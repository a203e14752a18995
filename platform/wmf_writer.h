#pragma once
// Records of the classic Windows metafile format, [MS-WMF]
// (https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-wmf/): META_HEADER (no
// placeable header before it), object records, META_RECTANGLE, META_SETSTRETCHBLTMODE,
// META_STRETCHDIB and META_EOF. Sizes are counted in 16-bit words and coordinates are 16-bit,
// so a drawing call beyond -32768..32767 cannot be recorded and fails.

#include "platform/metafile_recorder.h"

namespace orvalis::gdi {

namespace wmf {
inline constexpr uint16_t META_EOF = 0x0000;
inline constexpr uint16_t META_SETSTRETCHBLTMODE = 0x0107;
inline constexpr uint16_t META_SELECTOBJECT = 0x012D;
inline constexpr uint16_t META_DELETEOBJECT = 0x01F0;
inline constexpr uint16_t META_CREATEPENINDIRECT = 0x02FA;
inline constexpr uint16_t META_CREATEBRUSHINDIRECT = 0x02FC;
inline constexpr uint16_t META_RECTANGLE = 0x041B;
inline constexpr uint16_t META_STRETCHDIB = 0x0F43;
inline constexpr uint16_t kMemoryMetafile = 1;
inline constexpr uint16_t kHeaderWords = 9;
inline constexpr uint16_t kVersion300 = 0x0300;  // the version that carries DIBs
}  // namespace wmf

class WmfWriter : public RecordWriter {
 public:
  explicit WmfWriter(RecordSink& sink) : RecordWriter(sink) {}

  uint32_t FirstSlot() const override { return 0; }
  uint32_t SlotLimit() const override { return 0xFFFF; }
  bool SelectsStockDirectly() const override { return false; }

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
  // Writes a record: its fixed fields `record` (the size is filled in here), then `info` and
  // `bits`, padded to whole words; keeps the largest record size for the header.
  bool WriteRecord(const std::vector<uint8_t>& record, std::span<const uint8_t> info = {},
                   std::span<const uint8_t> bits = {});
  std::vector<uint8_t> Header(uint32_t tableSize) const;

  uint32_t maxRecordWords_ = 0;
};

}  // namespace orvalis::gdi
