#pragma once
// What the window says about one row beyond its status: the reason of a failed or stopped row,
// and, for a row whose status a run before the last one set, which run that was. The details
// line under the list, the Status cell's tooltip, "Copy Reason" and the row's accessible
// description all read it from here.

#include <QDateTime>
#include <QString>
#include <memory>

namespace orvalis {

// A run of the window, as the rows it concluded remember it.
struct RunRecord {
  QString format;     // the format list's text, "PNG Files(*.png)"
  QString folder;     // where the images went; "" for "beside each source file"
  QDateTime started;  // local time of the Start click
};

// "PNG Files(*.png) into '/srv/out/', started 2024-05-02 14:03:07", or "... beside each source
// file, ...".
QString RunDescription(const RunRecord& run);

// The details of a row with `status` and `reason`, concluded by `run` (null: by no run yet).
// `earlier`: that run is not the window's last one. "" when there is nothing to say beyond the
// status (a Ready row, a row the last run converted).
QString RowDetails(const QString& status, const QString& reason, const RunRecord* run,
                   bool earlier);

}  // namespace orvalis
