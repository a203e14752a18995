// A stand-in for the main window program: it starts through CConverterApp, shows a window and
// appends "<pid> <child pid>\n" to the file named by ORVALIS_PROBE_MARKER once the window is up.
// With ORVALIS_PROBE_CHILD set it first starts a detached `sleep` (as a link starts a browser).
// Files of its own command line and files a second start hands over are appended to the marker
// as "file <path>" lines; a handed-over file named "refuse.ps" makes it refuse them all.
// It closes by itself after ten minutes, should the test that started it fail to end it (the
// tests end it themselves: a busy machine may take far longer than usual to get there).

#include <unistd.h>

#include <QDialog>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include "ui/app/converter_app.h"

namespace {

void Mark(const QByteArray& line) {
  QFile marker(qEnvironmentVariable("ORVALIS_PROBE_MARKER"));
  if (marker.open(QIODevice::Append)) marker.write(line + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  return orvalis::CConverterApp::Run(argc, argv, [](orvalis::CConverterApp::Session& session) {
    QDialog window;
    window.setWindowTitle("probe");
    qint64 child = 0;
    if (qEnvironmentVariableIsSet("ORVALIS_PROBE_CHILD")) {
      QProcess::startDetached("sleep", {"600"}, {}, &child);
    }
    std::string error;
    session.ReceiveFiles(
        [](std::vector<std::string> files, orvalis::FileHandOffServer::Reply reply) {
          for (const std::string& file : files) {
            if (file.ends_with("/refuse.ps")) return reply({false, "refused: " + file});
          }
          for (const std::string& file : files) Mark("file " + QByteArray::fromStdString(file));
          reply({true, {}});
        },
        &error);
    for (const std::string& file : session.Files()) Mark("file " + QByteArray::fromStdString(file));
    QTimer::singleShot(0, &window, [child] {
      Mark(QByteArray::number(qint64(::getpid())) + " " + QByteArray::number(child));
    });
    QTimer::singleShot(600000, &window, &QDialog::reject);
    window.exec();
  });
}
