// A stand-in for the main window program: it starts through CConverterApp, shows a window and
// appends "<pid> <child pid>\n" to the file named by ORVALIS_PROBE_MARKER once the window is up.
// With ORVALIS_PROBE_CHILD set it first starts a detached `sleep` (as a link starts a browser).
// It closes by itself after 30 seconds, should the test that started it fail to end it.

#include <unistd.h>

#include <QDialog>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include "ui/app/converter_app.h"

int main(int argc, char** argv) {
  return orvalis::CConverterApp::Run(argc, argv, [] {
    QDialog window;
    window.setWindowTitle("probe");
    qint64 child = 0;
    if (qEnvironmentVariableIsSet("ORVALIS_PROBE_CHILD")) {
      QProcess::startDetached("sleep", {"30"}, {}, &child);
    }
    QTimer::singleShot(0, &window, [child] {
      QFile marker(qEnvironmentVariable("ORVALIS_PROBE_MARKER"));
      if (marker.open(QIODevice::Append)) {
        marker.write(QByteArray::number(qint64(::getpid())) + " " + QByteArray::number(child) +
                     "\n");
      }
    });
    QTimer::singleShot(30000, &window, &QDialog::reject);
    window.exec();
  });
}
