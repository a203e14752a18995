#pragma once
// The window's side of the batch driver. The driver calls it from its worker thread; every call
// that changes what the window shows becomes a signal, delivered queued to the window on the GUI
// thread, so the worker never touches a widget or the list model and never waits for the GUI.
// The rows the worker reads are a copy taken on the GUI thread before the run starts.

#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "batch/batch_view.h"

namespace orvalis {

class WindowBatchView : public QObject, public BatchView {
  Q_OBJECT

 public:
  using QObject::QObject;

  // The list as the run will see it; call on the GUI thread while no run is in progress.
  void TakeRows(std::vector<std::string> paths) { paths_ = std::move(paths); }

  // BatchView.
  int RowCount() const override { return static_cast<int>(paths_.size()); }
  std::string RowPath(int row) const override;
  void SetRowStatus(int row, const std::string& status) override;
  void RowPages(int row, int done, int total) override { emit rowPagesChanged(row, done, total); }
  void RowFinished(int row, const RowResult& result) override;
  void SelectRow(int row) override { emit rowSelected(row); }
  // The window's bar follows the row the list shows, which may lag the files being converted.
  void SetProgress(int) override {}
  void SetRunning(bool running) override { emit runningChanged(running); }

 signals:
  void rowStatusChanged(int row, const QString& status);
  void rowFinished(int row, const QString& status, const QString& reason, int outputCount);
  void rowPagesChanged(int row, int done, int total);
  // The first image a row wrote, sent before its rowFinished.
  void rowWrote(int row, const QString& firstOutput);
  void rowSelected(int row);
  void runningChanged(bool running);

 private:
  std::vector<std::string> paths_;
};

}  // namespace orvalis
