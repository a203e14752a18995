#pragma once
// Explicit little- and big-endian field access for the file structures the codecs read and
// write. Structures are always serialised field by field, never by copying a C struct.

#include <cstdint>
#include <span>
#include <vector>

namespace orvalis {

inline void PutLE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void PutLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void StoreLE16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLE32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t LoadLE16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

inline uint32_t LoadLE32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

inline uint16_t LoadBE16(const uint8_t* at) {
  return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

inline uint32_t LoadBE32(const uint8_t* at) {
  return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
         (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}

}  // namespace orvalis
