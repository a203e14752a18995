#include "platform/emf_writer.h"

#include <algorithm>
#include <limits>

#include "platform/byte_order.h"

namespace orvalis::gdi {

namespace {

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

void PutRect(std::vector<uint8_t>& out, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  for (int64_t v : {left, top, right, bottom}) PutLE32(out, static_cast<uint32_t>(v));
}

std::vector<uint8_t> RecordStart(uint32_t type, uint32_t size) {
  std::vector<uint8_t> record;
  record.reserve(size);
  PutLE32(record, type);
  PutLE32(record, size);
  return record;
}

std::vector<uint8_t> IndexRecord(uint32_t type, uint32_t index) {
  std::vector<uint8_t> record = RecordStart(type, 12);
  PutLE32(record, index);
  return record;
}

// 0.01 mm for a device pixel coordinate, held to the 32 bits of a frame coordinate.
int32_t ToFrameUnits(int64_t pixels, int32_t millimeters, int32_t devicePixels) {
  const double units = static_cast<double>(pixels) * millimeters * 100.0 / devicePixels;
  return static_cast<int32_t>(std::clamp<double>(units, std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()));
}

}  // namespace

EmfWriter::EmfWriter(RecordSink& sink, const ReferenceDevice& device, std::optional<RECT> frame,
                     std::string_view description)
    : RecordWriter(sink), device_(device), frame_(frame) {
  // ANSI text widened code unit by code unit, as the ANSI entry point does for Latin-1.
  for (char c : description) description_.push_back(static_cast<unsigned char>(c));
  headerBytes_ = emf::kHeaderBytes + (static_cast<uint32_t>(description_.size()) * 2 + 3) / 4 * 4;
}

bool EmfWriter::WriteRecord(const std::vector<uint8_t>& record) {
  if (!Append(record)) return false;
  ++records_;
  return true;
}

bool EmfWriter::Begin() {
  // A placeholder of the header's size: the counts and bounds are known only at the end.
  return WriteRecord(Header(1));
}

std::vector<uint8_t> EmfWriter::Header(uint32_t handles) const {
  const RECT frame = frame_ ? *frame_ : FrameFromBounds();
  std::vector<uint8_t> header = RecordStart(emf::EMR_HEADER, headerBytes_);
  if (hasBounds_) {
    PutRect(header, boundsLeft_, boundsTop_, boundsRight_, boundsBottom_);
  } else {
    PutRect(header, 0, 0, -1, -1);  // nothing drawn
  }
  PutRect(header, frame.left, frame.top, frame.right, frame.bottom);
  PutLE32(header, emf::kSignature);
  PutLE32(header, emf::kVersion);
  PutLE32(header, static_cast<uint32_t>(sink_.Size() == 0 ? headerBytes_ : sink_.Size()));
  PutLE32(header, std::max<uint32_t>(records_, 1));
  PutLE16(header, static_cast<uint16_t>(std::max<uint32_t>(handles, 1)));
  PutLE16(header, 0);  // reserved
  PutLE32(header, static_cast<uint32_t>(description_.size()));
  PutLE32(header, description_.empty() ? 0 : emf::kHeaderBytes);
  PutLE32(header, 0);  // no palette entries
  PutLE32(header, static_cast<uint32_t>(device_.widthPixels));
  PutLE32(header, static_cast<uint32_t>(device_.heightPixels));
  PutLE32(header, static_cast<uint32_t>(device_.widthMillimeters));
  PutLE32(header, static_cast<uint32_t>(device_.heightMillimeters));
  PutLE32(header, 0);  // cbPixelFormat: no pixel format descriptor
  PutLE32(header, 0);  // offPixelFormat
  PutLE32(header, 0);  // bOpenGL: no OpenGL records
  PutLE32(header, static_cast<uint32_t>(device_.widthMillimeters) * 1000);
  PutLE32(header, static_cast<uint32_t>(device_.heightMillimeters) * 1000);
  for (char16_t c : description_) PutLE16(header, c);
  header.resize(headerBytes_, 0);
  return header;
}

RECT EmfWriter::FrameFromBounds() const {
  if (!hasBounds_) return {0, 0, 0, 0};
  const auto x = [&](int64_t v) {
    return ToFrameUnits(v, device_.widthMillimeters, device_.widthPixels);
  };
  const auto y = [&](int64_t v) {
    return ToFrameUnits(v, device_.heightMillimeters, device_.heightPixels);
  };
  return {x(boundsLeft_), y(boundsTop_), x(boundsRight_), y(boundsBottom_)};
}

void EmfWriter::AddBounds(int64_t left, int64_t top, int64_t right, int64_t bottom) {
  if (!hasBounds_) {
    boundsLeft_ = left;
    boundsTop_ = top;
    boundsRight_ = right;
    boundsBottom_ = bottom;
    hasBounds_ = true;
    return;
  }
  boundsLeft_ = std::min(boundsLeft_, left);
  boundsTop_ = std::min(boundsTop_, top);
  boundsRight_ = std::max(boundsRight_, right);
  boundsBottom_ = std::max(boundsBottom_, bottom);
}

bool EmfWriter::CreatePen(uint32_t slot, const LogPen& pen) {
  std::vector<uint8_t> record = RecordStart(emf::EMR_CREATEPEN, 28);
  PutLE32(record, slot);
  PutLE32(record, static_cast<uint32_t>(pen.style));
  PutLE32(record, static_cast<uint32_t>(pen.width));  // Width.x; Width.y is not used
  PutLE32(record, 0);
  PutLE32(record, pen.color);
  return WriteRecord(record);
}

bool EmfWriter::CreateBrush(uint32_t slot, const LogBrush& brush) {
  std::vector<uint8_t> record = RecordStart(emf::EMR_CREATEBRUSHINDIRECT, 24);
  PutLE32(record, slot);
  PutLE32(record, brush.style);
  PutLE32(record, brush.color);
  PutLE32(record, brush.hatch);
  return WriteRecord(record);
}

bool EmfWriter::SelectSlot(uint32_t slot) {
  return WriteRecord(IndexRecord(emf::EMR_SELECTOBJECT, slot));
}

bool EmfWriter::SelectStock(int stockIndex) {
  return WriteRecord(IndexRecord(emf::EMR_SELECTOBJECT,
                                 emf::kStockObjectFlag | static_cast<uint32_t>(stockIndex)));
}

bool EmfWriter::DeleteSlot(uint32_t slot) {
  return WriteRecord(IndexRecord(emf::EMR_DELETEOBJECT, slot));
}

bool EmfWriter::Rectangle(const RECT& box, int penWidth) {
  std::vector<uint8_t> record = RecordStart(emf::EMR_RECTANGLE, 24);
  PutRect(record, box.left, box.top, box.right, box.bottom);
  if (!WriteRecord(record)) return false;
  // The outline runs along the inside of right and bottom; a wide pen spreads about it.
  const int64_t spread = penWidth > 1 ? penWidth / 2 : 0;
  const int64_t left = std::min(box.left, box.right), right = std::max(box.left, box.right);
  const int64_t top = std::min(box.top, box.bottom), bottom = std::max(box.top, box.bottom);
  if (right > left && bottom > top) {
    AddBounds(left - spread, top - spread, right - 1 + spread, bottom - 1 + spread);
  }
  return true;
}

bool EmfWriter::SetStretchBltMode(int mode) {
  return WriteRecord(IndexRecord(emf::EMR_SETSTRETCHBLTMODE, static_cast<uint32_t>(mode)));
}

bool EmfWriter::StretchDIBits(const StretchArgs& args, const DibLayout& dib) {
  constexpr uint32_t kFixedBytes = 80;
  const uint64_t size = kFixedBytes + dib.info.size() + dib.bits.size();
  if (size > std::numeric_limits<uint32_t>::max() ||
      sink_.Size() + size + 20 > std::numeric_limits<uint32_t>::max()) {
    return Fail("the bitmap makes the enhanced metafile larger than 4 GiB");
  }
  const int64_t x0 = args.xDest, x1 = int64_t{args.xDest} + args.destWidth;
  const int64_t y0 = args.yDest, y1 = int64_t{args.yDest} + args.destHeight;
  const int64_t left = std::min(x0, x1), right = std::max(x0, x1) - 1;
  const int64_t top = std::min(y0, y1), bottom = std::max(y0, y1) - 1;
  if (!FitsInt32(right) || !FitsInt32(bottom)) {
    return Fail("the bitmap's destination lies outside the enhanced metafile's coordinates");
  }
  const bool drawn = right >= left && bottom >= top;

  std::vector<uint8_t> record = RecordStart(emf::EMR_STRETCHDIBITS, static_cast<uint32_t>(size));
  if (drawn) {
    PutRect(record, left, top, right, bottom);
  } else {
    PutRect(record, 0, 0, -1, -1);
  }
  for (int32_t v : {args.xDest, args.yDest, args.xSrc, args.ySrc, args.srcWidth, args.srcHeight})
    PutLE32(record, static_cast<uint32_t>(v));
  PutLE32(record, kFixedBytes);                                           // offBmiSrc
  PutLE32(record, static_cast<uint32_t>(dib.info.size()));                // cbBmiSrc
  PutLE32(record, kFixedBytes + static_cast<uint32_t>(dib.info.size()));  // offBitsSrc
  PutLE32(record, static_cast<uint32_t>(dib.bits.size()));                // cbBitsSrc
  PutLE32(record, args.usage);
  PutLE32(record, args.rasterOp);
  PutLE32(record, static_cast<uint32_t>(args.destWidth));
  PutLE32(record, static_cast<uint32_t>(args.destHeight));
  if (!Append(record) || !Append(dib.info) || !Append(dib.bits)) return false;
  ++records_;
  if (drawn) AddBounds(left, top, right, bottom);
  return true;
}

bool EmfWriter::End(uint32_t tableSize) {
  std::vector<uint8_t> eof = RecordStart(emf::EMR_EOF, 20);
  PutLE32(eof, 0);   // nPalEntries
  PutLE32(eof, 16);  // offPalEntries: where a palette would start
  PutLE32(eof, 20);  // SizeLast
  if (!WriteRecord(eof)) return false;
  if (hasBounds_ && !(FitsInt32(boundsLeft_) && FitsInt32(boundsTop_) && FitsInt32(boundsRight_) &&
                      FitsInt32(boundsBottom_))) {
    return Fail("the drawing lies outside the enhanced metafile's coordinates");
  }
  return Overwrite(0, Header(tableSize));
}

}  // namespace orvalis::gdi
