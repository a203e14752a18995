#include "tests/ui/window_fixture.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QToolTip>
#include <QWidget>
#include <cstdio>
#include <fstream>

#include "tests/support/test_pages.h"

namespace orvalis::test {

bool ScriptRenderer::Render(int handle, const std::string& psPath, const std::string& pattern,
                            int xDpi, int) {
  std::ifstream in(psPath);
  std::string word;
  int pages = 0;
  bool fail = false;
  bool hang = false;
  while (in >> word) {
    if (word == "pages") in >> pages;
    if (word == "fail") fail = true;
    if (word == "hang") hang = true;
  }
  for (int page = 1; page <= pages; ++page) {
    char name[4096];
    std::snprintf(name, sizeof name, pattern.c_str(), page);
    WriteTestPage(name, static_cast<uint32_t>(10 + page), static_cast<uint32_t>(xDpi / 12));
  }
  std::unique_lock lock(mutex_);
  if (hang) {
    aborted_.wait(lock, [&] { return abortedHandles_.count(handle) != 0; });
    errors_[handle] = "aborted";
    return false;
  }
  errors_[handle] = fail ? "Error: /undefined in <<foo>> & bar" : "";
  return !fail;
}

void ScriptRenderer::Abort(int handle) {
  {
    std::lock_guard lock(mutex_);
    abortedHandles_.insert(handle);
  }
  aborted_.notify_all();
}

std::string ScriptRenderer::LastError(int handle) {
  std::lock_guard lock(mutex_);
  return errors_[handle];
}

WindowServices RecordingServices(PageRenderer& renderer, const std::string& profilePath,
                                 DesktopRecord& record) {
  WindowServices services;
  services.renderer = &renderer;
  services.profilePath = profilePath;
  services.pacing = kNoPacing;
  services.launcher = &record;
  services.showAbout = [&record](QWidget*) { ++record.aboutShown; };
  services.notify = [&record](const QString& summary, const QString& body) {
    record.notified.emplace_back(summary, body);
  };
  services.runSettings = [&record](QWidget*, const std::string&, const ConversionSettings&) {
    ++record.settingsShown;
    return record.settingsAnswer;
  };
  services.chooseFiles = [&record](QWidget*, const QString& folder) {
    record.startedIn.push_back(folder);
    return record.filesToChoose;
  };
  services.chooseFolder = [&record](QWidget*, const QString& title, const QString& folder) {
    record.titles.push_back(title);
    record.startedIn.push_back(folder);
    return record.folderToChoose;
  };
  return services;
}

QString SaveScreenshot(QWidget* widget, const QString& name) {
  QPixmap shot = widget->grab();
  // A tooltip is a window of its own: paint it where it stands over the widget.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->inherits("QTipLabel") && top->isVisible()) {
      QPainter painter(&shot);
      painter.drawPixmap(widget->mapFromGlobal(top->pos()), top->grab());
    }
  }
  QDir().mkpath(QStringLiteral(ORVALIS_SCREENSHOT_DIR));
  const QString path = QStringLiteral(ORVALIS_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
  shot.save(path);
  return path;
}

std::string WriteScript(const std::string& folder, const std::string& name,
                        const std::string& text) {
  const std::string path = folder + "/" + name;
  std::ofstream(path) << text;
  return path;
}

}  // namespace orvalis::test
