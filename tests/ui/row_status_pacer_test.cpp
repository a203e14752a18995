#include "ui/window/row_status_pacer.h"

#include <QElapsedTimer>
#include <QTest>
#include <vector>

namespace orvalis {

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr int kHangGuardMs = 180000;

// Each progress text keeps its moment on screen, the texts after it wait their turn, and the
// row's result replaces whatever still waits at once.
class RowStatusPacerTest : public QObject {
  Q_OBJECT

 private slots:
  void textsKeepTheirMomentAndTheResultCutsIn() {
    // "Converting..." keeps its moment far longer than any machine takes to reach the result,
    // so that the text after it is still waiting then, however slowly the test runs. (Were it
    // not dropped, the row could not start afresh below.)
    const StatusPacing pacing{std::chrono::milliseconds(300), std::chrono::minutes(10)};
    std::vector<std::pair<int, QString>> shown;
    QElapsedTimer clock;
    qint64 secondShownAt = 0;
    RowStatusPacer pacer(pacing, [&](int row, const QString& text) {
      shown.emplace_back(row, text);
      if (shown.size() == 2) secondShownAt = clock.elapsed();
    });
    clock.start();
    pacer.Progress(0, QStringLiteral("Converting."));
    pacer.Progress(0, QStringLiteral("Converting.."));
    pacer.Progress(0, QStringLiteral("Converting..."));
    pacer.Progress(0, QStringLiteral("Converting...."));
    QCOMPARE(shown.size(), size_t{1});  // "Converting." at once, the others wait
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), size_t{3}, kHangGuardMs);
    QVERIFY2(secondShownAt >= 290, QByteArray::number(secondShownAt).constData());
    QCOMPARE(shown[1].second, QStringLiteral("Converting.."));
    QCOMPARE(shown[2].second, QStringLiteral("Converting..."));
    // The result comes while "Converting...." still waits: it is dropped.
    pacer.Finish(0);
    QTest::qWait(400);
    QCOMPARE(shown.size(), size_t{3});

    // Rows are paced each on its own; a finished row starts afresh.
    pacer.Progress(1, QStringLiteral("Converting."));
    pacer.Progress(0, QStringLiteral("Converting."));
    QCOMPARE(shown.size(), size_t{5});
  }

  void withoutPacingEveryTextShowsAtOnce() {
    std::vector<QString> shown;
    RowStatusPacer pacer(kNoPacing, [&](int, const QString& text) { shown.push_back(text); });
    for (const char* text : {"Converting.", "Converting..", "Converting...", "Converting...."})
      pacer.Progress(0, QString::fromLatin1(text));
    QCOMPARE(shown.size(), size_t{4});
  }
};

}  // namespace orvalis

QTEST_GUILESS_MAIN(orvalis::RowStatusPacerTest)
#include "row_status_pacer_test.moc"
