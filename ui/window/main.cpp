// kestrune-orvalis: the desktop program. Loads the page renderer, then shows the main window
// with the files named on the command line already in its list.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/renderer_loader.h"
#include "ui/window/main_dialog.h"

int main(int argc, char** argv) {
  using namespace orvalis;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrune-orvalis"));

  std::string message;
  std::string detail;
  const std::unique_ptr<RendererLibrary> renderer = RendererLibrary::Load(&message, &detail);
  if (!renderer) {
    std::fprintf(stderr, "kestrune-orvalis: %s%s%s\n", message.c_str(), detail.empty() ? "" : " (",
                 detail.empty() ? "" : (detail + ")").c_str());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kestrune Orvalis"),
                    QString::fromStdString(message), QMessageBox::Ok);
    if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
    box.exec();
    return 1;
  }

  WindowServices services = DesktopWindowServices();
  services.renderer = renderer.get();
  services.profilePath = DefaultProfilePath();
  MainDialog window(std::move(services));
  // Files given by the desktop ("Open with", the desktop entry's %F) come in as a drop does.
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) files.emplace_back(argv[i]);
  window.show();
  if (!files.empty()) window.AddDroppedFiles(files);
  window.exec();
  return 0;
}
