#pragma once
// What the window tests share: a page renderer that follows a tiny script instead of
// PostScript, services that record what the window asks of the desktop, and screenshots.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "batch/page_renderer.h"
#include "ui/controls/link_label.h"
#include "ui/window/window_services.h"

class QWidget;

namespace orvalis::test {

// Reads the "PostScript" file as words: "pages N" writes N small pages, "fail" reports an
// interpreter error after them, "hang" blocks until the rendering is aborted.
class ScriptRenderer : public PageRenderer {
 public:
  int Open() override { return ++lastHandle_; }
  bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
              int yDpi) override;
  void Close(int) override {}
  void Abort(int handle) override;
  std::string LastError(int handle) override;

 private:
  std::atomic<int> lastHandle_{0};
  std::mutex mutex_;
  std::condition_variable aborted_;
  std::set<int> abortedHandles_;
  std::map<int, std::string> errors_;
};

// What the window asked of the desktop.
struct DesktopRecord : LinkLauncher {
  void OpenWithDesktop(const QString& url, Outcome outcome) override {
    opened.push_back(QUrl(url));
    if (outcome) outcome(true);
  }
  QString HtmlHandlerExec() override { return {}; }
  bool StartDetached(const QStringList&) override { return false; }
  void Beep() override {}

  std::vector<QUrl> opened;
  int aboutShown = 0;
  int settingsShown = 0;
  QStringList filesToChoose;       // the file dialog's answer
  QString folderToChoose;          // the folder browser's answer
  std::vector<QString> startedIn;  // the folder each dialog started in
  std::vector<QString> titles;     // the folder browser's titles
  bool settingsAnswer = true;
  std::vector<std::pair<QString, QString>> notified;  // desktop notifications: summary, body
};

// Services over `renderer` and `profilePath` that answer from `record` and record into it; no
// pauses in the run.
WindowServices RecordingServices(PageRenderer& renderer, const std::string& profilePath,
                                 DesktopRecord& record);

// Writes `widget` (and the tooltip shown over it, if any) as a PNG into the build folder's
// screenshots; the path written.
QString SaveScreenshot(QWidget* widget, const QString& name);

// A file of the given text; its path.
std::string WriteScript(const std::string& folder, const std::string& name,
                        const std::string& text);

}  // namespace orvalis::test
