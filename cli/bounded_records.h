#pragma once
// Reads records (lines, or entries separated by NUL bytes) from a descriptor that may hold
// anything: a pipe that never ends, /dev/zero, a file of one line of gigabytes. Each record and
// the whole input have a bound; a record past its bound is reported as soon as it crosses it and
// then skipped up to its separator without being kept, so that memory stays bounded whatever the
// input is.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvalis {

class BoundedRecordReader {
 public:
  struct Limits {
    size_t longestRecord;  // bytes, without the separator
    uint64_t mostInTotal;  // bytes read from the descriptor
  };
  enum class Result {
    Record,      // `record` holds the next one (the last may lack its separator)
    TooLong,     // the next record is longer than longestRecord; the next call skips its rest
    End,         // nothing more
    TooMuch,     // the input goes on past mostInTotal
    ReadFailed,  // read(2) failed; ErrorNumber() says why
  };

  // Reads from `fd`, which stays open and is the caller's.
  BoundedRecordReader(int fd, char separator, Limits limits);

  // Empty records are passed over: a record returned holds at least one byte.
  Result Next(std::string* record);
  // The place of the last record returned (or found too long) in the input, from 1, empty
  // records counted: the line number of a list of lines.
  uint64_t RecordNumber() const { return recordNumber_; }
  int ErrorNumber() const { return errorNumber_; }

 private:
  bool Fill();  // false at the end of the input, on a read error or past mostInTotal

  int fd_;
  char separator_;
  Limits limits_;
  std::vector<char> buffer_;
  // Separators in a row, to pass over a long run of them (a list of NUL bytes) quickly.
  static constexpr size_t kRun = 64;
  std::array<char, kRun> separatorRun_;
  size_t position_ = 0, filled_ = 0;
  uint64_t total_ = 0;
  uint64_t separators_ = 0, recordNumber_ = 0;
  bool ended_ = false, tooMuch_ = false;
  bool skipping_ = false;  // inside a record that was too long
  int errorNumber_ = 0;
};

}  // namespace orvalis
