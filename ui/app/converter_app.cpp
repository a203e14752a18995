#include "ui/app/converter_app.h"

#include <QApplication>
#include <cstdio>

#include "ui/app/app_icon.h"
#include "ui/app/single_instance.h"

namespace orvalis {

namespace {

// The arguments after the program's name, as bytes.
std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

// The second start's part: the files go to the running instance, which says what it did.
int HandOver(const SingleInstance& instance, const std::vector<std::string>& files) {
  const std::string program = SingleInstance::ExecutableBaseName();
  std::string error;
  const std::optional<HandOffAnswer> answer = HandFilesOver(instance.SocketPath(), files, &error);
  if (!answer) {
    std::fprintf(stderr, "%s: already running, and the files could not be handed to it: %s\n",
                 program.c_str(), error.c_str());
    return kExitFilesNotAdded;
  }
  if (!answer->message.empty())
    std::fprintf(stderr, "%s: %s\n", program.c_str(), answer->message.c_str());
  return answer->allAdded ? 0 : kExitFilesNotAdded;
}

}  // namespace

CConverterApp::Session::Session(std::vector<std::string> files, const SingleInstance& instance)
    : files_(std::move(files)), instance_(instance) {}

CConverterApp::Session::~Session() = default;

bool CConverterApp::Session::ReceiveFiles(FileHandOffServer::Receiver receiver,
                                          std::string* error) {
  const std::string path = instance_.Held() ? instance_.SocketPath() : std::string();
  if (path.empty()) {
    *error = "no private folder for the lock and its socket";
    return false;
  }
  auto server = std::make_unique<FileHandOffServer>(std::move(receiver));
  if (!server->Listen(path, error)) return false;
  server_ = std::move(server);
  return true;
}

int CConverterApp::Run(int& argc, char** argv, const MainWindowRunner& runMainWindow) {
  SingleInstance instance;
  if (!instance.TryAcquire()) {
    const std::vector<std::string> files = Arguments(argc, argv);
    if (files.empty()) return kExitAlreadyRunning;
    return HandOver(instance, files);
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromStdString(SingleInstance::ExecutableBaseName()));
  QApplication::setDesktopFileName("kestrune-orvalis");
  QApplication::setWindowIcon(AppIcon());
  // What is left once Qt has taken its own arguments (-platform, -style, ...).
  Session session(Arguments(argc, argv), instance);
  runMainWindow(session);
  return 0;
}

}  // namespace orvalis
