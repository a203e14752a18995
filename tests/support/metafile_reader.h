#pragma once
// A small reader of the EMF and WMF files the converter writes, written from the published
// formats ([MS-EMF], [MS-WMF]) for the tests: it splits a file into records and checks that
// their sizes add up, so that tests can compare record sequences and fields.

#include <cstdint>
#include <string>
#include <vector>

namespace orvalis::test {

// One record with its bytes, size and type included (EMF) or size and function included (WMF).
struct MetaRecord {
  uint32_t type = 0;  // EMF record type, or WMF record function
  std::vector<uint8_t> bytes;

  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
  }
  int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  uint32_t U32(size_t offset) const {
    return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
  }
  int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  std::vector<uint8_t> Slice(size_t offset, size_t size) const {
    if (offset + size > bytes.size()) return {};
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + size)};
  }
};

// EMF: every record is type (4 bytes), size (4 bytes, a multiple of 4), then its fields. The
// first record must be EMR_HEADER and the last EMR_EOF, with nothing after it. An empty vector
// with the reason in `error` when the file breaks the record structure.
inline std::vector<MetaRecord> ReadEmfRecords(const std::vector<uint8_t>& file,
                                              std::string* error) {
  std::vector<MetaRecord> records;
  size_t at = 0;
  while (at < file.size()) {
    if (file.size() - at < 8) {
      *error = "truncated record header at " + std::to_string(at);
      return {};
    }
    MetaRecord probe;
    probe.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(at + 8));
    const uint32_t type = probe.U32(0);
    const uint32_t size = probe.U32(4);
    if (size < 8 || size % 4 != 0 || size > file.size() - at) {
      *error = "bad size " + std::to_string(size) + " of record " + std::to_string(type);
      return {};
    }
    MetaRecord record;
    record.type = type;
    record.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                        file.begin() + static_cast<std::ptrdiff_t>(at + size));
    records.push_back(std::move(record));
    at += size;
    if (type == 14) break;  // EMR_EOF
  }
  if (records.empty() || records.front().type != 1 || records.back().type != 14 ||
      at != file.size()) {
    *error = "the file does not run from EMR_HEADER to EMR_EOF";
    return {};
  }
  return records;
}

struct WmfFile {
  uint16_t type = 0;
  uint16_t headerWords = 0;
  uint16_t version = 0;
  uint32_t sizeWords = 0;
  uint16_t objects = 0;
  uint32_t maxRecordWords = 0;
  uint16_t members = 0;
  std::vector<MetaRecord> records;  // META_EOF included
};

// WMF without a placeable header: an 18-byte META_HEADER, then records of size (4 bytes, in
// 16-bit words) and function (2 bytes), ending with META_EOF.
inline bool ReadWmfFile(const std::vector<uint8_t>& file, WmfFile* wmf, std::string* error) {
  if (file.size() < 18) {
    *error = "shorter than a header";
    return false;
  }
  MetaRecord header;
  header.bytes.assign(file.begin(), file.begin() + 18);
  wmf->type = header.U16(0);
  wmf->headerWords = header.U16(2);
  wmf->version = header.U16(4);
  wmf->sizeWords = header.U32(6);
  wmf->objects = header.U16(10);
  wmf->maxRecordWords = header.U32(12);
  wmf->members = header.U16(16);
  size_t at = 18;
  while (at < file.size()) {
    if (file.size() - at < 6) {
      *error = "truncated record at " + std::to_string(at);
      return false;
    }
    MetaRecord probe;
    probe.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(at + 6));
    const uint64_t bytes = uint64_t{probe.U32(0)} * 2;
    if (bytes < 6 || bytes > file.size() - at) {
      *error = "bad size of the record at " + std::to_string(at);
      return false;
    }
    MetaRecord record;
    record.type = probe.U16(4);
    record.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                        file.begin() + static_cast<std::ptrdiff_t>(at + bytes));
    wmf->records.push_back(std::move(record));
    at += bytes;
    if (wmf->records.back().type == 0) break;  // META_EOF
  }
  if (wmf->records.empty() || wmf->records.back().type != 0 || at != file.size()) {
    *error = "the records do not end with META_EOF at the end of the file";
    return false;
  }
  return true;
}

}  // namespace orvalis::test
