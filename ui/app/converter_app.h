#pragma once
// CConverterApp: the program's start-up. The main window program's main() hands it the code that
// runs the main window:
//
//   int main(int argc, char** argv) {
//     return orvalis::CConverterApp::Run(argc, argv, [](orvalis::CConverterApp::Session& session) {
//       orvalis::MainDialog window;
//       session.ReceiveFiles(...);   // a second start's files go to the window from now on
//       ... add session.Files() ...
//       window.exec();
//     });
//   }
//
// Run refuses a second instance first (SingleInstance, single_instance.h), before any window or
// display connection. A second start of the same executable by the same user without files
// returns kExitAlreadyRunning at once and prints nothing. One that names files hands them to
// the running instance (file_hand_off.h), prints what that said about files it did not add, and
// returns 0 when every file is in its list, else kExitFilesNotAdded. Otherwise Run makes the
// QApplication (named after the executable, with the application icon and the desktop entry's
// name), calls `runMainWindow`, and returns 0 when that returns.
//
// The main window shows the about box from its help button:
//
//   orvalis::CAboutBox about(this);
//   about.exec();
//
// and, while a conversion runs, opens the help page directly: orvalis::OpenHelpFile().

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/app/file_hand_off.h"

namespace orvalis {

class SingleInstance;

// The exit status of a second start whose files did not all reach the running instance's list.
inline constexpr int kExitFilesNotAdded = 1;

class CConverterApp {
 public:
  // What the start-up hands to the code that runs the main window.
  class Session {
   public:
    Session(std::vector<std::string> files, const SingleInstance& instance);
    ~Session();

    // The files named on the command line (Qt's own options taken out), as given.
    const std::vector<std::string>& Files() const { return files_; }
    // From now on, files that a second start hands over go to `receiver`. False, with the reason
    // in `error`, when they cannot (no lock folder; a second start then says so).
    bool ReceiveFiles(FileHandOffServer::Receiver receiver, std::string* error);

   private:
    std::vector<std::string> files_;
    const SingleInstance& instance_;
    std::unique_ptr<FileHandOffServer> server_;
  };

  using MainWindowRunner = std::function<void(Session& session)>;

  static int Run(int& argc, char** argv, const MainWindowRunner& runMainWindow);
};

}  // namespace orvalis
