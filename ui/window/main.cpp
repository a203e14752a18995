// kestrune-orvalis: the desktop program. One instance per user; it loads the page renderer, then
// shows the main window with the files named on the command line already in its list. A second
// start with files hands them to this window (CConverterApp, file_hand_off.h).

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/page_folder.h"
#include "batch/renderer_loader.h"
#include "ui/app/converter_app.h"
#include "ui/app/ending_signals.h"
#include "ui/app/exit_cleanup.h"
#include "ui/window/main_dialog.h"

namespace {

using namespace orvalis;

constexpr int kExitNoRenderer = 1;
// Ended by SIGTERM, SIGHUP or SIGINT, as orvalis-cli says it.
constexpr int kExitEnded = 130;

// The renderer, or nullptr after the user was told that it could not be loaded.
std::unique_ptr<RendererLibrary> LoadRenderer() {
  std::string message;
  std::string detail;
  std::unique_ptr<RendererLibrary> renderer = RendererLibrary::Load(&message, &detail);
  if (renderer) return renderer;
  std::fprintf(stderr, "kestrune-orvalis: %s%s%s\n", message.c_str(), detail.empty() ? "" : " (",
               detail.empty() ? "" : (detail + ")").c_str());
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Kestrune Orvalis"),
                  QString::fromStdString(message), QMessageBox::Ok);
  if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
  box.exec();
  return nullptr;
}

void Say(const QString& message) {
  if (!message.isEmpty()) std::fprintf(stderr, "kestrune-orvalis: %s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  const int started = CConverterApp::Run(argc, argv, [&](CConverterApp::Session& session) {
    const std::unique_ptr<RendererLibrary> renderer = LoadRenderer();
    if (!renderer) {
      status = kExitNoRenderer;
      return;
    }
    // What a run that was killed left in the page area goes first.
    RemoveAbandonedPageFolders();
    WindowServices services = DesktopWindowServices();
    services.renderer = renderer.get();
    services.previewRenderer = renderer.get();
    services.profilePath = DefaultProfilePath();
    MainDialog window(std::move(services));
    // Asked to end (logout, kill, Ctrl+C in a terminal): the run stops and cleans up first.
    // Whatever dialog is open over the window then (Settings, Add File(s), About, a message)
    // ends with it: exit() ends every event loop the window and its dialogs run, and none starts
    // again.
    int endedBy = 0;
    const std::unique_ptr<EndingSignals> endingSignals = EndingSignals::Install([&](int signal) {
      if (endedBy != 0) return;
      endedBy = signal;
      window.EndNow();
      QCoreApplication::exit(kExitEnded);
    });
    // A display that goes away makes Qt exit on the spot: the run stops and cleans up as it does
    // for SIGTERM.
    const ExitCleanup exitCleanup([&window] { window.StopRunForExit(); }, kExitEnded);
    window.show();
    // Files given by the desktop ("Open with", the desktop entry's %F) come in as a drop does,
    // and so do those of a later start while the window is open; the user hears of any that
    // cannot be added.
    std::string error;
    const bool receiving = session.ReceiveFiles(
        [&window, &endedBy](std::vector<std::string> files, FileHandOffServer::Reply reply) {
          // Files that come while the program ends are refused, never taken into a window that
          // is going away.
          if (endedBy != 0) {
            reply({false, "the program is ending; the files were not added"});
            return;
          }
          window.ReceiveFiles(std::move(files), [reply](MainDialog::NamedFilesOutcome outcome) {
            reply({outcome.allAdded, outcome.message.toStdString()});
          });
        },
        &error);
    if (!receiving)
      Say(QStringLiteral("files of a later start cannot reach this window: %1")
              .arg(QString::fromStdString(error)));
    Say(window.AddNamedFiles(session.Files()).message);
    window.exec();
    if (endedBy != 0) status = kExitEnded;
  });
  return started != 0 ? started : status;
}
