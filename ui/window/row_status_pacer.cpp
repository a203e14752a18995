#include "ui/window/row_status_pacer.h"

namespace orvalis {

using Clock = std::chrono::steady_clock;

RowStatusPacer::RowStatusPacer(StatusPacing pacing, Show show, QObject* parent)
    : QObject(parent), pacing_(pacing), show_(std::move(show)) {}

std::chrono::milliseconds RowStatusPacer::MomentOf(const QString& text) const {
  if (text == QLatin1String("Converting.")) return pacing_.firstDot;
  if (text == QLatin1String("Converting...")) return pacing_.rendered;
  return std::chrono::milliseconds(0);
}

void RowStatusPacer::Progress(int row, const QString& text) {
  Row& state = rows_[row];
  state.waiting.push_back(text);
  if (state.waiting.size() == 1) ShowNext(row);
}

void RowStatusPacer::Finish(int row) {
  rows_.erase(row);
}

void RowStatusPacer::ShowNext(int row) {
  const auto it = rows_.find(row);
  if (it == rows_.end() || it->second.waiting.empty()) return;
  Row& state = it->second;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(state.shownUntil - Clock::now());
  if (left.count() > 0) {
    if (!state.timer) {
      state.timer = std::make_unique<QTimer>();
      state.timer->setSingleShot(true);
      connect(state.timer.get(), &QTimer::timeout, this, [this, row] { ShowNext(row); });
    }
    state.timer->start(static_cast<int>(left.count()));
    return;
  }
  const QString text = state.waiting.front();
  state.waiting.pop_front();
  state.shownUntil = Clock::now() + MomentOf(text);
  show_(row, text);
  if (!state.waiting.empty()) ShowNext(row);
}

}  // namespace orvalis
