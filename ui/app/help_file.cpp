#include "ui/app/help_file.h"

#include <QFile>
#include <QString>
#include <QUrl>

#include "ui/controls/link_label.h"
#include "settings/app_paths.h"

namespace orvalis {

bool OpenHelpFile(LinkLauncher* launcher, const std::string& programFolder) {
  std::string path = programFolder.empty() ? AppPaths::ModuleFilePath("") : programFolder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += kHelpFileName;
  if (!AppPaths::FileExists(path)) return false;
  LinkLauncher& opener = launcher != nullptr ? *launcher : DefaultLinkLauncher();
  const QUrl url = QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
  opener.OpenWithDesktop(url.toString(QUrl::FullyEncoded), {});
  return true;
}

}  // namespace orvalis
