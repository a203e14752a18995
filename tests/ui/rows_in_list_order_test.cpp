#include "ui/window/rows_in_list_order.h"

#include <QTest>
#include <string>
#include <vector>

namespace orvalis {

struct Arrival {
  int row;
  const char* text;
  bool concludes;
};

// Reports arrive as files convert side by side; the list must tell them row after row.
class RowsInListOrderTest : public QObject {
  Q_OBJECT

  // Feeds `arrivals` between Begin and End (or without End) and returns what was shown, in order.
  static std::string Shown(const std::vector<Arrival>& arrivals, bool end,
                           std::string* beforeEnd = nullptr) {
    RowsInListOrder order;
    std::string shown;
    order.Begin();
    for (const Arrival& arrival : arrivals) {
      auto show = [&shown, arrival] { shown += std::to_string(arrival.row) + arrival.text + " "; };
      if (arrival.concludes)
        order.Conclude(arrival.row, show);
      else
        order.Report(arrival.row, show);
    }
    if (beforeEnd != nullptr) *beforeEnd = shown;
    if (end) order.End();
    return shown;
  }

 private slots:
  void reportsAreShownRowAfterRow_data() {
    QTest::addColumn<std::vector<Arrival>>("arrivals");
    QTest::addColumn<QString>("shownDuringRun");
    QTest::addColumn<QString>("shownAtEnd");
    QTest::newRow("in order") << std::vector<Arrival>{{0, "a", false},
                                                      {0, "=", true},
                                                      {1, "a", false},
                                                      {1, "=", true}}
                              << "0a 0= 1a 1= "
                              << "0a 0= 1a 1= ";
    // The second file finishes first: it waits for the first's result, then shows at once.
    QTest::newRow("later row first") << std::vector<Arrival>{{0, "a", false},
                                                             {1, "a", false},
                                                             {1, "=", true},
                                                             {0, "b", false},
                                                             {0, "=", true}}
                                     << "0a 0b 0= 1a 1= "
                                     << "0a 0b 0= 1a 1= ";
    // Rows that finished while waiting are shown in one go, up to the first still converting.
    QTest::newRow("several waiting")
        << std::vector<Arrival>{{2, "a", false}, {2, "=", true},  {3, "a", false}, {1, "a", false},
                                {1, "=", true},  {0, "a", false}, {0, "=", true}}
        << "0a 0= 1a 1= 2a 2= 3a "
        << "0a 0= 1a 1= 2a 2= 3a ";
    // Stopped: row 1 never began, so row 2's result only shows when the run ends.
    QTest::newRow("gap at a stop")
        << std::vector<Arrival>{{0, "a", false}, {2, "a", false}, {2, "=", true}, {0, "=", true}}
        << "0a 0= "
        << "0a 0= 2a 2= ";
  }
  void reportsAreShownRowAfterRow() {
    QFETCH(std::vector<Arrival>, arrivals);
    QFETCH(QString, shownDuringRun);
    QFETCH(QString, shownAtEnd);
    std::string during;
    const std::string atEnd = Shown(arrivals, true, &during);
    QCOMPARE(QString::fromStdString(during), shownDuringRun);
    QCOMPARE(QString::fromStdString(atEnd), shownAtEnd);
  }

  // Between runs nothing waits: the run's last selection and any late report show at once.
  void betweenRunsReportsPassThrough() {
    RowsInListOrder order;
    int shown = 0;
    order.Report(5, [&] { ++shown; });
    QCOMPARE(shown, 1);
    QCOMPARE(order.Turn(), -1);
    order.Begin();
    order.Report(1, [&] { ++shown; });
    QCOMPARE(shown, 1);
    order.End();
    QCOMPARE(shown, 2);
    order.Report(0, [&] { ++shown; });
    QCOMPARE(shown, 3);
    // A new run starts from the first row, with nothing left of the last.
    order.Begin();
    QCOMPARE(order.Turn(), 0);
  }
};

}  // namespace orvalis

QTEST_GUILESS_MAIN(orvalis::RowsInListOrderTest)
#include "rows_in_list_order_test.moc"
