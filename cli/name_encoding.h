#pragma once
// Names as a text format can keep them. A file name on Linux is any bytes but '/' and NUL; a
// JSON string holds UTF-8 only. A report therefore keeps a name twice when it is not UTF-8:
// readable, with U+FFFD in place of each byte that is not, and exact, in base64 (RFC 4648,
// standard alphabet with padding), which every language decodes.

#include <optional>
#include <string>
#include <string_view>

namespace orvalis {

// The length and code point of the UTF-8 sequence at `at`, or 0 when none starts there (a
// stray continuation byte, an overlong form, a surrogate, a sequence cut short).
size_t DecodeUtf8(std::string_view text, size_t at, char32_t* codePoint);

// True when every byte of `text` belongs to a well-formed UTF-8 sequence.
bool IsUtf8(std::string_view text);

std::string Base64Encode(std::string_view bytes);
// nullopt for text that is not base64 with the standard alphabet and padding.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace orvalis
