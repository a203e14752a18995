#pragma once
// The limits the whole program keeps, each written once: the renderer plug-in, the batch driver,
// the settings store and orvalis-cli all read them from here.

#include <cstdint>

namespace orvalis::limits {

// Rendering resolutions, dots per inch, on either axis.
inline constexpr int kMinResolution = 72;
inline constexpr int kMaxResolution = 600;

// The most address space one interpreter gets: generous for a 600 dpi page, small enough that a
// hostile document cannot exhaust the machine.
inline constexpr uint64_t kInterpreterAddressSpace = uint64_t{3} << 30;

// The largest page image the converter reads back: 256 MiB of pixel rows.
inline constexpr uint64_t kMaxPageImageBytes = uint64_t{256} << 20;

// Free space kept on every disk the program writes to, in bytes and in files (inodes); on a disk
// with less than twice that free, half of what is free.
inline constexpr uint64_t kDiskReserveBytes = uint64_t{1} << 30;
inline constexpr uint64_t kDiskReserveFiles = 10000;

}  // namespace orvalis::limits
