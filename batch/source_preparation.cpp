#include "batch/source_preparation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

#include "batch/disk_guard.h"
#include "batch/source_type.h"
#include "platform/file_descriptor.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = size_t{256} << 10;
// The disk is asked for room before each stretch of this much is written.
constexpr uint64_t kDiskStep = uint64_t{16} << 20;
constexpr size_t kDosEpsHeaderBytes = 30;

// "1024 MiB", or the bytes of a size that is no whole number of MiB.
std::string SizeText(uint64_t bytes) {
  if (bytes % (uint64_t{1} << 20) != 0) return std::to_string(bytes) + " bytes";
  return std::to_string(bytes >> 20) + " MiB";
}

std::vector<uint8_t> ReadHead(int fd) {
  std::vector<uint8_t> head(kSourceHeadBytes);
  size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  head.resize(got);
  return head;
}

uint32_t LittleEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A file created in the private folder, removed again unless kept.
class Copy {
 public:
  explicit Copy(std::string path)
      : path_(std::move(path)),
        fd_(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)),
        openErrno_(errno) {}
  ~Copy() {
    if (!kept_ && fd_.Get() >= 0) ::unlink(path_.c_str());
  }
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  bool IsOpen() const { return fd_.Get() >= 0; }
  int Fd() const { return fd_.Get(); }
  const std::string& Path() const { return path_; }
  std::string Keep() {
    kept_ = true;
    return path_;
  }
  std::string OpenError() const {
    return "cannot create " + path_ + ": " + std::strerror(openErrno_);
  }

 private:
  std::string path_;
  FileDescriptor fd_;
  int openErrno_;
  bool kept_ = false;
};

// Copies the PostScript section of the DOS EPS file open in `fd`, which begins with `head`, into
// `target`.
PreparedSource TakePostScriptSection(int fd, std::span<const uint8_t> head,
                                     const std::string& target, DiskGuard& disk) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return {{}, std::string("cannot read it: ") + std::strerror(errno)};
  if (head.size() < kDosEpsHeaderBytes)
    return {{}, "Its DOS EPS header is cut short (" + std::to_string(head.size()) + " bytes)"};
  const uint64_t offset = LittleEndian32(head.data() + 4);
  const uint64_t length = LittleEndian32(head.data() + 8);
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (length == 0 || offset < kDosEpsHeaderBytes || offset > size || length > size - offset)
    return {{},
            "Its DOS EPS header places the PostScript section (" + std::to_string(length) +
                " bytes at " + std::to_string(offset) + ") outside the file's " +
                std::to_string(size) + " bytes"};
  const std::string folder = fs::path(target).parent_path().string();
  if (std::string full = disk.CheckWrite(folder, length); !full.empty())
    return {{}, "Its PostScript section was not taken out: " + full};
  Copy copy(target);
  if (!copy.IsOpen()) return {{}, copy.OpenError()};
  std::vector<uint8_t> buffer(kChunk);
  for (uint64_t done = 0; done < length;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - done));
    const ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !WriteAll(copy.Fd(), buffer.data(), static_cast<size_t>(n)))
      return {{},
              "cannot copy its PostScript section out: " +
                  (n == 0 ? std::string("the file got shorter") : std::strerror(errno))};
    done += static_cast<uint64_t>(n);
  }
  return {copy.Keep(), {}};
}

// zlib's stream, ended on every way out.
class Inflater {
 public:
  Inflater() { ready_ = ::inflateInit2(&stream_, 15 + 16) == Z_OK; }  // gzip wrapping only
  ~Inflater() {
    if (ready_) ::inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool Ready() const { return ready_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

bool AllZero(const uint8_t* bytes, size_t size) {
  return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
}

// Unpacks the gzip file open in `fd` (its members one after another, as gunzip does) into
// `target`.
PreparedSource Unpack(int fd, const std::string& target, uint64_t limit, DiskGuard& disk,
                      std::stop_token stop) {
  Inflater inflater;
  if (!inflater.Ready()) return {{}, "cannot start unpacking: out of memory"};
  Copy copy(target);
  if (!copy.IsOpen()) return {{}, copy.OpenError()};
  const std::string folder = fs::path(target).parent_path().string();
  z_stream& stream = inflater.Stream();
  std::vector<uint8_t> in(kChunk);
  std::vector<uint8_t> out(kChunk);
  uint64_t written = 0;
  uint64_t checkedUpTo = 0;
  bool inMember = false;  // a member has begun and not ended
  bool endOfInput = false;
  for (;;) {
    if (stop.stop_requested()) return {{}, {}, true};
    if (stream.avail_in == 0 && !endOfInput) {
      const ssize_t n = ::read(fd, in.data(), in.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return {{}, std::string("cannot read it: ") + std::strerror(errno)};
      endOfInput = n == 0;
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(n);
    }
    if (stream.avail_in == 0 && endOfInput) {
      if (inMember) return {{}, "It cannot be unpacked: the compressed data ends too early"};
      break;
    }
    if (!inMember) {
      // After a member: another one, or zeros that pad the file out, or the end.
      if (stream.avail_in >= 1 && stream.next_in[0] != 0x1f) {
        if (AllZero(stream.next_in, stream.avail_in)) {
          stream.avail_in = 0;
          continue;
        }
        return {{},
                "It cannot be unpacked: bytes follow its compressed data that are not "
                "compressed data"};
      }
      inMember = true;
    }
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = ::inflate(&stream, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      return {{},
              std::string("It cannot be unpacked: the compressed data is damaged (") +
                  (stream.msg != nullptr ? stream.msg : "zlib error " + std::to_string(result)) +
                  ")"};
    }
    const size_t produced = out.size() - stream.avail_out;
    if (produced > limit - std::min(limit, written))
      return {{},
              "It unpacks to more than " + SizeText(limit) +
                  ", the most a compressed file may unpack to"};
    if (written + produced > checkedUpTo) {
      if (std::string full = disk.CheckWrite(folder, kDiskStep); !full.empty())
        return {{}, "It was not unpacked: " + full};
      checkedUpTo = written + kDiskStep;
    }
    if (!WriteAll(copy.Fd(), out.data(), produced))
      return {{}, "cannot write " + target + ": " + std::strerror(errno)};
    written += produced;
    if (result == Z_STREAM_END) {
      inMember = false;
      ::inflateReset(&stream);
    } else if (result == Z_BUF_ERROR && stream.avail_in > 0 && produced == 0) {
      return {{}, "It cannot be unpacked: the compressed data is damaged"};
    }
  }
  return {copy.Keep(), {}};
}

FileDescriptor OpenForReading(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

PreparedSource PrepareSource(const std::string& source, const std::string& folder,
                             uint64_t unpackLimit, DiskGuard& disk, std::stop_token stop) {
  FileDescriptor fd = OpenForReading(source);
  if (fd.Get() < 0 || !IsRegularFile(fd.Get())) return {source, {}};
  const std::vector<uint8_t> head = ReadHead(fd.Get());
  const SourceSniff sniff = SniffSource(head, fs::path(source).filename().string());
  if (!sniff.problem.empty()) return {{}, sniff.problem};
  if (sniff.kind == SourceKind::PostScript || sniff.kind == SourceKind::Pdf) return {source, {}};

  const std::string copies = folder + kCopyFolder;
  std::error_code ec;
  if (!fs::create_directory(copies, ec) && ec)
    return {{}, "cannot make a folder for its copy in " + folder + ": " + ec.message()};
  if (sniff.kind == SourceKind::DosEps)
    return TakePostScriptSection(fd.Get(), head, copies + kSectionCopy, disk);

  PreparedSource unpacked = Unpack(fd.Get(), copies + kUnpackedCopy, unpackLimit, disk, stop);
  if (unpacked.path.empty()) return unpacked;
  FileDescriptor inner = OpenForReading(unpacked.path);
  const std::vector<uint8_t> innerHead = ReadHead(inner.Get());
  const SourceSniff innerSniff =
      SniffSource(innerHead, SourceStem(fs::path(source).filename().string()));
  if (innerSniff.kind == SourceKind::Gzip) {
    ::unlink(unpacked.path.c_str());
    return {{}, "It is compressed twice; unpack it once by hand"};
  }
  if (innerSniff.kind != SourceKind::DosEps) return unpacked;
  PreparedSource section =
      TakePostScriptSection(inner.Get(), innerHead, copies + kSectionCopy, disk);
  ::unlink(unpacked.path.c_str());
  return section;
}

}  // namespace orvalis
