#include "cli/name_encoding.h"

#include <array>
#include <cstdint>

namespace orvalis {

size_t DecodeUtf8(std::string_view text, size_t at, char32_t* codePoint) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  size_t length = 0;
  char32_t value = 0, lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2, value = lead & 0x1F, lowest = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3, value = lead & 0x0F, lowest = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4, value = lead & 0x07, lowest = 0x10000;
  else
    return 0;
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

bool IsUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    char32_t codePoint = 0;
    const size_t length = DecodeUtf8(text, at, &codePoint);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each base64 character, -1 for any other byte.
constexpr std::array<int8_t, 256> DecodingTable() {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t at = 0; at < bytes.size(); at += 3) {
    const size_t left = bytes.size() - at;
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 16;
    if (left > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[at + 2]);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  static constexpr std::array<int8_t, 256> kValues = DecodingTable();
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (size_t at = 0; at < text.size(); at += 4) {
    const bool last = at + 4 == text.size();
    // Padding only at the very end: "xx==" or "xxx=".
    const size_t padding = last ? (text[at + 3] == '=') + (text[at + 2] == '=') : 0;
    if (padding == 1 && text[at + 2] == '=') return std::nullopt;
    uint32_t group = 0;
    for (size_t i = 0; i < 4 - padding; ++i) {
      const int8_t value = kValues[static_cast<unsigned char>(text[at + i])];
      if (value < 0) return std::nullopt;
      group |= static_cast<uint32_t>(value) << (18 - 6 * i);
    }
    bytes += static_cast<char>(group >> 16);
    if (padding < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

}  // namespace orvalis
