#include "ui/app/help_file.h"

#include <QFile>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "settings/app_paths.h"
#include "ui/controls/link_label.h"
#include "ui/controls/open_failure.h"

namespace orvalis {

bool OpenHelpFile(LinkLauncher* launcher, const std::string& programFolder, QWidget* noticeParent) {
  std::string path = programFolder.empty() ? AppPaths::ModuleFilePath("") : programFolder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += kHelpFileName;
  if (!AppPaths::FileExists(path)) return false;
  LinkLauncher& opener = launcher != nullptr ? *launcher : DefaultLinkLauncher();
  const QUrl url = QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
  const QString address = url.toString(QUrl::FullyEncoded);
  opener.OpenWithDesktop(address, [parent = QPointer<QWidget>(noticeParent), address](bool opened) {
    if (!opened) ShowCannotOpen(parent, address);
  });
  return true;
}

}  // namespace orvalis
