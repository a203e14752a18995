#pragma once
// CConverterApp: the program's start-up. The main window program's main() hands it the code that
// runs the main window:
//
//   int main(int argc, char** argv) {
//     return orvalis::CConverterApp::Run(argc, argv, [] {
//       orvalis::MainDialog window;
//       window.exec();
//     });
//   }
//
// Run refuses a second instance first (SingleInstance, single_instance.h): a second start of the
// same executable by the same user returns kExitAlreadyRunning at once, before any window or
// display connection, and prints nothing. Otherwise it makes the QApplication (named after the
// executable, with the application icon and the desktop entry's name), calls `runMainWindow`,
// and returns 0 when that returns.
//
// The main window shows the about box from its help button:
//
//   orvalis::CAboutBox about(this);
//   about.exec();
//
// and, while a conversion runs, opens the help page directly: orvalis::OpenHelpFile().

#include <QStringList>
#include <functional>

namespace orvalis {

class CConverterApp {
 public:
  using MainWindowRunner = std::function<void()>;

  static int Run(int& argc, char** argv, const MainWindowRunner& runMainWindow);

  // The existing files named on the command line (the desktop entry passes the files a user
  // opens with the program), as absolute paths. Valid once the QApplication exists.
  static QStringList FilesFromCommandLine();
};

}  // namespace orvalis
