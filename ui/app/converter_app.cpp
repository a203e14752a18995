#include "ui/app/converter_app.h"

#include <QApplication>
#include <QFileInfo>

#include "ui/app/app_icon.h"
#include "ui/app/single_instance.h"

namespace orvalis {

int CConverterApp::Run(int& argc, char** argv, const MainWindowRunner& runMainWindow) {
  SingleInstance instance;
  if (!instance.TryAcquire()) return kExitAlreadyRunning;

  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromStdString(SingleInstance::ExecutableBaseName()));
  QApplication::setDesktopFileName("kestrune-orvalis");
  QApplication::setWindowIcon(AppIcon());
  runMainWindow();
  return 0;
}

QStringList CConverterApp::FilesFromCommandLine() {
  QStringList files;
  const QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QFileInfo file(arguments[i]);
    if (file.isFile()) files << file.absoluteFilePath();
  }
  return files;
}

}  // namespace orvalis
