#pragma once
// RunFeedback: what the window tells about a run beyond the rows' statuses. While it runs: the
// pages of the row being converted after its progress text ("Converting... page 12 of 87"), the
// bar over the run's pages (RunProgress: never full before the last page is written) and the
// run's share in the window's title ("42 % — Kestrune Orvalis"). When it has ended: a summary in
// the status bar, with a link that opens the output folder, and a desktop notification when the
// window is not the active one. Everything here happens on the GUI thread.

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <optional>

#include "batch/run_progress.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace orvalis {

// How the rows of a run ended.
struct RunCounts {
  int rows = 0;
  int succeeded = 0;
  int failed = 0;
  int aborted = 0;  // stopped, or never begun
};

// "4 of 5 converted, 1 failed", "Stopped: 2 of 5 converted", "All 5 converted".
QString RunSummaryText(const RunCounts& counts, bool stopped);

class RunFeedback : public QObject {
  Q_OBJECT

 public:
  // A desktop notification: its summary and body.
  using Notify = std::function<void(const QString& summary, const QString& body)>;
  // Opens a folder with the desktop.
  using OpenFolder = std::function<void(const QString& folder)>;

  RunFeedback(QWidget* window, QString title, QProgressBar* bar, QLabel* summary, Notify notify,
              OpenFolder openFolder);

  void Begin(int rows);
  // The driver's reports, as they come (not in list order).
  void Pages(int row, int done, int total);
  void Finished(int row, const QString& status);
  void Wrote(const QString& firstOutput);
  // The run is over; `fallbackFolder`: the folder opened when no image was written ("" none).
  void End(bool stoppedByUser, const QString& fallbackFolder);

  // The text a row shows for its progress text `status`, now shown; its pages follow it.
  QString Shown(int row, const QString& status);
  // The row's text with its pages as they are now, while it shows a progress text.
  std::optional<QString> ShownNow(int row) const;
  // The row has its result: its progress texts are over.
  void Concluded(int row) { shown_.erase(row); }

  const RunProgress& Progress() const { return progress_; }
  const RunCounts& Counts() const { return counts_; }
  // The folder the summary's link opens, "" when none.
  const QString& OutputFolder() const { return folder_; }
  void OpenOutputFolder() const;

 private:
  void ShowShare();
  QString WithPages(int row, const QString& status) const;

  QWidget* const window_;
  const QString title_;
  QProgressBar* const bar_;
  QLabel* const summary_;
  const Notify notify_;
  const OpenFolder openFolder_;
  RunProgress progress_;
  RunCounts counts_;
  QString folder_;
  std::map<int, QString> shown_;  // the progress text each row shows
};

// Sends a freedesktop notification over the session bus (org.freedesktop.Notifications), as
// KDE's and GNOME's applications do, without waiting for the answer. Nothing happens when there
// is no session bus or no notification server.
void SendDesktopNotification(const QString& appName, const QString& summary, const QString& body);

}  // namespace orvalis
