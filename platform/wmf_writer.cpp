#include "platform/wmf_writer.h"

#include <algorithm>
#include <limits>

#include "platform/byte_order.h"

namespace orvalis::gdi {

namespace {

bool FitsInt16(int64_t v) {
  return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}

// RecordSize (32-bit, in words) and RecordFunction; the size is filled in by WriteRecord.
std::vector<uint8_t> RecordStart(uint16_t function) {
  std::vector<uint8_t> record;
  PutLE32(record, 0);
  PutLE16(record, function);
  return record;
}

void PutInt16(std::vector<uint8_t>& out, int64_t v) {
  PutLE16(out, static_cast<uint16_t>(static_cast<int16_t>(v)));
}

}  // namespace

bool WmfWriter::WriteRecord(const std::vector<uint8_t>& fixed, std::span<const uint8_t> info,
                            std::span<const uint8_t> bits) {
  const uint64_t bytes = fixed.size() + info.size() + bits.size();
  const uint64_t words = (bytes + 1) / 2;
  if (words > std::numeric_limits<uint32_t>::max() ||
      (sink_.Size() + bytes) / 2 + 3 > std::numeric_limits<uint32_t>::max()) {
    return Fail("the record makes the metafile larger than its 32-bit size in words allows");
  }
  std::vector<uint8_t> record = fixed;
  StoreLE32(record.data(), static_cast<uint32_t>(words));
  if (!Append(record) || !Append(info) || !Append(bits)) return false;
  if (bytes % 2 != 0) {
    const uint8_t pad = 0;
    if (!Append({&pad, 1})) return false;
  }
  maxRecordWords_ = std::max(maxRecordWords_, static_cast<uint32_t>(words));
  return true;
}

std::vector<uint8_t> WmfWriter::Header(uint32_t tableSize) const {
  std::vector<uint8_t> header;
  PutLE16(header, wmf::kMemoryMetafile);
  PutLE16(header, wmf::kHeaderWords);
  PutLE16(header, wmf::kVersion300);
  PutLE32(header, static_cast<uint32_t>(sink_.Size() / 2));  // SizeLow, SizeHigh
  PutLE16(header, static_cast<uint16_t>(tableSize));
  PutLE32(header, maxRecordWords_);
  PutLE16(header, 0);  // NumberOfMembers: not used
  return header;
}

bool WmfWriter::Begin() {
  return Append(Header(0));
}

bool WmfWriter::CreatePen(uint32_t, const LogPen& pen) {
  if (!FitsInt16(pen.width)) return Fail("a metafile pen is at most 32767 units wide");
  // The object goes into the lowest free slot on playback, which is the slot it has here.
  std::vector<uint8_t> record = RecordStart(wmf::META_CREATEPENINDIRECT);
  PutLE16(record, static_cast<uint16_t>(pen.style));
  PutInt16(record, pen.width);  // Width.x
  PutInt16(record, 0);          // Width.y: not used
  PutLE32(record, pen.color);
  return WriteRecord(record);
}

bool WmfWriter::CreateBrush(uint32_t, const LogBrush& brush) {
  std::vector<uint8_t> record = RecordStart(wmf::META_CREATEBRUSHINDIRECT);
  PutLE16(record, static_cast<uint16_t>(brush.style));
  PutLE32(record, brush.color);
  PutLE16(record, static_cast<uint16_t>(brush.hatch));
  return WriteRecord(record);
}

bool WmfWriter::SelectSlot(uint32_t slot) {
  std::vector<uint8_t> record = RecordStart(wmf::META_SELECTOBJECT);
  PutLE16(record, static_cast<uint16_t>(slot));
  return WriteRecord(record);
}

bool WmfWriter::SelectStock(int) {
  return Fail("a classic metafile cannot select a stock object by its index");
}

bool WmfWriter::DeleteSlot(uint32_t slot) {
  std::vector<uint8_t> record = RecordStart(wmf::META_DELETEOBJECT);
  PutLE16(record, static_cast<uint16_t>(slot));
  return WriteRecord(record);
}

bool WmfWriter::Rectangle(const RECT& box, int) {
  if (!FitsInt16(box.left) || !FitsInt16(box.top) || !FitsInt16(box.right) ||
      !FitsInt16(box.bottom)) {
    return Fail("a rectangle beyond 32767 units does not fit a classic metafile");
  }
  std::vector<uint8_t> record = RecordStart(wmf::META_RECTANGLE);
  PutInt16(record, box.bottom);
  PutInt16(record, box.right);
  PutInt16(record, box.top);
  PutInt16(record, box.left);
  return WriteRecord(record);
}

bool WmfWriter::SetStretchBltMode(int mode) {
  std::vector<uint8_t> record = RecordStart(wmf::META_SETSTRETCHBLTMODE);
  PutLE16(record, static_cast<uint16_t>(mode));
  return WriteRecord(record);
}

bool WmfWriter::StretchDIBits(const StretchArgs& args, const DibLayout& dib) {
  for (int32_t v : {args.xDest, args.yDest, args.destWidth, args.destHeight, args.xSrc, args.ySrc,
                    args.srcWidth, args.srcHeight}) {
    if (!FitsInt16(v)) {
      return Fail("a bitmap or destination beyond 32767 pixels does not fit a classic metafile");
    }
  }
  std::vector<uint8_t> record = RecordStart(wmf::META_STRETCHDIB);
  PutLE32(record, args.rasterOp);
  PutLE16(record, static_cast<uint16_t>(args.usage));
  for (int32_t v : {args.srcHeight, args.srcWidth, args.ySrc, args.xSrc, args.destHeight,
                    args.destWidth, args.yDest, args.xDest}) {
    PutInt16(record, v);
  }
  return WriteRecord(record, dib.info, dib.bits);
}

bool WmfWriter::End(uint32_t tableSize) {
  if (!WriteRecord(RecordStart(wmf::META_EOF))) return false;
  return Overwrite(0, Header(tableSize));
}

}  // namespace orvalis::gdi
