#pragma once
// Clean-up for a program that is made to exit from code it does not own: Qt's X11 connection
// calls exit() when the display goes away (the X server ended, the connection broke), without
// returning to the program. While an ExitCleanup lives, such an exit calls its function first
// (from an atexit handler, on the thread that called exit), so that a run can stop and remove
// its page folders and unfinished images, and then ends the program with `status`, as an ending
// signal would. A normal end destroys the ExitCleanup first and calls nothing.
//
//   orvalis::ExitCleanup cleanup([&window] { window.StopRunForExit(); }, 130);

#include <functional>

namespace orvalis {

class ExitCleanup {
 public:
  ExitCleanup(std::function<void()> cleanup, int status);
  ~ExitCleanup();
  ExitCleanup(const ExitCleanup&) = delete;
  ExitCleanup& operator=(const ExitCleanup&) = delete;
};

}  // namespace orvalis
