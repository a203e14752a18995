#include "ui/window/run_feedback.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QVariantMap>
#include <QWidget>

#include "batch/batch_view.h"

namespace orvalis {

QString RunSummaryText(const RunCounts& counts, bool stopped) {
  QString text;
  if (stopped) {
    text = QStringLiteral("Stopped: %1 of %2 converted").arg(counts.succeeded).arg(counts.rows);
  } else if (counts.succeeded == counts.rows) {
    text = counts.rows == 1 ? QStringLiteral("Converted")
                            : QStringLiteral("All %1 converted").arg(counts.rows);
  } else {
    text = QStringLiteral("%1 of %2 converted").arg(counts.succeeded).arg(counts.rows);
  }
  if (counts.failed > 0) text += QStringLiteral(", %1 failed").arg(counts.failed);
  return text;
}

RunFeedback::RunFeedback(QWidget* window, QString title, QProgressBar* bar, QLabel* summary,
                         Notify notify, OpenFolder openFolder)
    : window_(window),
      title_(std::move(title)),
      bar_(bar),
      summary_(summary),
      notify_(std::move(notify)),
      openFolder_(std::move(openFolder)) {
  summary_->setTextFormat(Qt::RichText);
  summary_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  summary_->setFocusPolicy(Qt::TabFocus);
  summary_->hide();
  connect(summary_, &QLabel::linkActivated, this, [this] { OpenOutputFolder(); });
}

void RunFeedback::Begin(int rows) {
  progress_ = RunProgress(rows);
  counts_ = RunCounts{rows, 0, 0, 0};
  folder_.clear();
  shown_.clear();
  summary_->hide();
  ShowShare();
}

void RunFeedback::Pages(int row, int done, int total) {
  if (progress_.Pages(row, done, total)) ShowShare();
}

void RunFeedback::Finished(int row, const QString& status) {
  if (row < 0 || row >= progress_.Rows() || progress_.RowAt(row).finished) return;
  progress_.Finished(row);
  if (status == QLatin1String(kStatusSucceed)) {
    ++counts_.succeeded;
  } else if (status == QLatin1String(kStatusFailed)) {
    ++counts_.failed;
  } else {
    ++counts_.aborted;
  }
  ShowShare();
}

void RunFeedback::Wrote(const QString& firstOutput) {
  if (folder_.isEmpty()) folder_ = QFileInfo(firstOutput).absolutePath();
}

void RunFeedback::ShowShare() {
  const int percent = progress_.Percent();
  bar_->setValue(percent);
  window_->setWindowTitle(QStringLiteral("%1 % \u2014 %2").arg(percent).arg(title_));
}

void RunFeedback::End(bool stoppedByUser, const QString& fallbackFolder) {
  window_->setWindowTitle(title_);
  // The rows the run never reached count as aborted.
  counts_.aborted = counts_.rows - counts_.succeeded - counts_.failed;
  if (folder_.isEmpty()) folder_ = fallbackFolder;
  const QString text = RunSummaryText(counts_, stoppedByUser);
  QString shown = text.toHtmlEscaped();
  if (!folder_.isEmpty()) shown += QStringLiteral(" &nbsp;<a href=\"folder\">Open folder</a>");
  summary_->setText(shown);
  summary_->setToolTip(
      QStringLiteral("%1 succeeded, %2 failed, %3 aborted%4")
          .arg(counts_.succeeded)
          .arg(counts_.failed)
          .arg(counts_.aborted)
          .arg(folder_.isEmpty() ? QString() : QStringLiteral("\nImages in ") + folder_));
  summary_->setAccessibleName(text);
  summary_->show();
  if (!window_->isActiveWindow() && notify_) {
    QString body = text;
    if (!folder_.isEmpty()) body += QStringLiteral("\nImages in ") + folder_;
    notify_(stoppedByUser ? QStringLiteral("Conversion stopped")
                          : QStringLiteral("Conversion finished"),
            body);
  }
}

void RunFeedback::OpenOutputFolder() const {
  if (!folder_.isEmpty() && openFolder_) openFolder_(folder_);
}

QString RunFeedback::WithPages(int row, const QString& status) const {
  if (row < 0 || row >= progress_.Rows()) return status;
  const RunProgress::Row& pages = progress_.RowAt(row);
  const std::string text = PagesText(pages.done, pages.total);
  if (text.empty()) return status;
  return status + QLatin1Char(' ') + QString::fromStdString(text);
}

QString RunFeedback::Shown(int row, const QString& status) {
  shown_[row] = status;
  return WithPages(row, status);
}

std::optional<QString> RunFeedback::ShownNow(int row) const {
  const auto it = shown_.find(row);
  if (it == shown_.end()) return std::nullopt;
  return WithPages(row, it->second);
}

void SendDesktopNotification(const QString& appName, const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrune-orvalis"));
  call << appName << uint(0) << QStringLiteral("kestrune-orvalis") << summary << body
       << QStringList() << hints << int(-1);
  // No answer is awaited: without a notification server the call fails quietly.
  call.setAutoStartService(true);
  bus.send(call);
}

}  // namespace orvalis
