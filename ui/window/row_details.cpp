#include "ui/window/row_details.h"

namespace orvalis {

QString RunDescription(const RunRecord& run) {
  const QString where = run.folder.isEmpty() ? QStringLiteral("beside each source file")
                                             : QStringLiteral("into '%1'").arg(run.folder);
  return QStringLiteral("%1 %2, started %3")
      .arg(run.format, where, run.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QString RowDetails(const QString& status, const QString& reason, const RunRecord* run,
                   bool earlier) {
  QString details = reason;
  if (run != nullptr && earlier) {
    const QString from =
        QStringLiteral("%1 in an earlier run: %2").arg(status, RunDescription(*run));
    details = details.isEmpty() ? from : from + QStringLiteral(". ") + details;
  }
  return details;
}

}  // namespace orvalis
