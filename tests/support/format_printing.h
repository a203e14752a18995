#pragma once
// Test messages print format numbers as their numbers.

#include <ostream>

#include "engine/output_formats.h"
#include "image/image_format.h"

namespace orvalis {

inline std::ostream& operator<<(std::ostream& out, ImageFormat format) {
  return out << "image format " << NumberOf(format);
}

inline std::ostream& operator<<(std::ostream& out, OutputFormat format) {
  return out << "engine format " << NumberOf(format);
}

}  // namespace orvalis
