// kestrune-orvalis: the desktop program. One instance per user; it loads the page renderer, then
// shows the main window with the files named on the command line already in its list.

#include <QMessageBox>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/renderer_loader.h"
#include "ui/app/converter_app.h"
#include "ui/window/main_dialog.h"

namespace {

using namespace orvalis;

constexpr int kExitNoRenderer = 1;

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

}  // namespace

int main(int argc, char** argv) {
  // The command line's files as the file system names them (a name need not be UTF-8).
  std::vector<std::string> files(argv + std::min(argc, 1), argv + argc);
  int status = 0;
  const int started = CConverterApp::Run(argc, argv, [&] {
    const std::unique_ptr<RendererLibrary> renderer = LoadRenderer();
    if (!renderer) {
      status = kExitNoRenderer;
      return;
    }
    WindowServices services = DesktopWindowServices();
    services.renderer = renderer.get();
    services.profilePath = DefaultProfilePath();
    MainDialog window(std::move(services));
    window.show();
    // Files given by the desktop ("Open with", the desktop entry's %F) come in as a drop does.
    if (!files.empty()) window.AddDroppedFiles(files);
    window.exec();
  });
  return started != 0 ? started : status;
}
