#pragma once
// How a run of the batch driver goes: what the window and the command line choose.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace orvalis {

struct BatchOptions {
  int jobs = 1;  // files converted at once
  // Pages converted at once, all files together (the run's conversion threads); 0: as many as
  // `jobs`, but no more than the machine has processors, so that --jobs 1 keeps to one
  // conversion thread and many files at once do not oversubscribe the processors.
  int threads = 0;
  // Processors the run may keep busy; 0: the machine's.
  int processors = 0;
  // Pages are converted while the renderer writes the next ones. Off: a file's pages are
  // converted once it has rendered, one at a time in page order (the plain path, which gives
  // the same files).
  bool overlap = true;
  // A file that takes longer, rendering and conversion together, is stopped; 0 = no limit.
  int timeoutSeconds = 0;
  // The most a compressed source may unpack to; 0 = kDefaultUnpackLimit (source_preparation.h).
  uint64_t unpackLimit = 0;
  uint64_t memoryBudget = 0;  // bytes shared by the run's interpreters and pages; 0 = 3/4 of the
                              // memory available at start
  // What this front end calls the two choices that keep apart the images of sources that would
  // share names (the later of two such sources is refused, and told which to take): naming
  // every image after its source's full file name (the refusal adds the name the file's first
  // image would then take), and writing beside each source.
  std::string fullNamesAdvice = "name the images after the full file names";
  std::string besideAdvice = "convert them beside their sources";
  // Called with +1 as each page conversion begins and -1 as it ends, on the converting thread.
  std::function<void(int)> conversionObserver;
  // For tests, which cannot tell on a busy machine what a file has done by the time a clock
  // runs out: when set (with a time limit), a file's time is not kept by the clock. This is
  // called on the row's thread as the file begins, with the row and the two moments the clock
  // would bring, for the test to bring them when the file has reached the point it wants.
  // They may be called from any thread, in their order; once the file is concluded they do
  // nothing.
  struct FileTime {
    std::function<void()> timeUp;         // the file's time has run out
    std::function<void()> lateStartOver;  // no page may begin any more
  };
  std::function<void(int row, FileTime calls)> fileTimeKeeper;
};

// The processors a run may keep busy.
inline int Processors(const BatchOptions& options) {
  if (options.processors > 0) return options.processors;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace orvalis
