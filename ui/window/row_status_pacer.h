#pragma once
// The window shows a row's progress texts for a moment each, so that a person can follow them:
// "Converting." stays at least `firstDot`, "Converting..." (the file rendered) at least
// `rendered`, before the next text replaces it. The row's result replaces them at once. The
// driver itself never waits for the window: a text that comes early waits here, on the GUI
// thread.

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>

namespace orvalis {

struct StatusPacing {
  std::chrono::milliseconds firstDot{500};
  std::chrono::milliseconds rendered{300};
};
inline constexpr StatusPacing kWindowPacing{};
inline constexpr StatusPacing kNoPacing{std::chrono::milliseconds(0), std::chrono::milliseconds(0)};

class RowStatusPacer : public QObject {
  Q_OBJECT

 public:
  using Show = std::function<void(int row, const QString& text)>;
  RowStatusPacer(StatusPacing pacing, Show show, QObject* parent = nullptr);

  // A progress text of `row`: shown now, or once the text before it has had its moment.
  void Progress(int row, const QString& text);
  // The row has its result: its progress texts still waiting are dropped.
  void Finish(int row);

 private:
  struct Row {
    std::deque<QString> waiting;
    std::chrono::steady_clock::time_point shownUntil;  // the shown text's moment ends
    std::unique_ptr<QTimer> timer;
  };
  void ShowNext(int row);
  std::chrono::milliseconds MomentOf(const QString& text) const;

  const StatusPacing pacing_;
  const Show show_;
  std::map<int, Row> rows_;
};

}  // namespace orvalis
