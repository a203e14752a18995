// The notification at the end of a run reaches a freedesktop notification server over the
// session bus, and costs nothing where no server answers. The test starts a session bus of its
// own (dbus-daemon) and plays the server on it.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTest>
#include <QVariantMap>

#include "ui/window/run_feedback.h"

namespace orvalis {

class NotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString app, icon, summary, body;
    int timeout = 0;
  };
  std::vector<Call> calls;

 public slots:
  uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
              const QString& body, const QStringList&, const QVariantMap&, int timeout) {
    calls.push_back({app, icon, summary, body, timeout});
    return static_cast<uint>(calls.size());
  }
};

class DesktopNotificationTest : public QObject {
  Q_OBJECT

 private:
  QProcess bus_;
  QString address_;

 private slots:
  void initTestCase() {
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
    QVERIFY2(bus_.waitForStarted(), "dbus-daemon does not start");
    QTRY_VERIFY_WITH_TIMEOUT(bus_.canReadLine(), 10000);
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    // Before the first use of the session bus in this process.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
  }
  void cleanupTestCase() {
    bus_.terminate();
    bus_.waitForFinished();
  }

  void noServerNoWait() {
    QElapsedTimer clock;
    clock.start();
    SendDesktopNotification(QStringLiteral("Kestrune Orvalis"), QStringLiteral("s"),
                            QStringLiteral("b"));
    // The call is not waited for: only a hang fails here.
    QVERIFY(clock.elapsed() < 5000);
  }

  void serverGetsTheNotification() {
    QDBusConnection server = QDBusConnection::connectToBus(address_, QStringLiteral("server"));
    QVERIFY(server.isConnected());
    NotificationServer notifications;
    QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                  QDBusConnection::ExportAllSlots));
    QVERIFY(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
    SendDesktopNotification(QStringLiteral("Kestrune Orvalis"),
                            QStringLiteral("Conversion finished"),
                            QStringLiteral("All 5 converted\nImages in /tmp/out"));
    QTRY_COMPARE_WITH_TIMEOUT(notifications.calls.size(), size_t(1), 10000);
    const NotificationServer::Call& call = notifications.calls[0];
    QCOMPARE(call.app, QStringLiteral("Kestrune Orvalis"));
    QCOMPARE(call.icon, QStringLiteral("kestrune-orvalis"));
    QCOMPARE(call.summary, QStringLiteral("Conversion finished"));
    QCOMPARE(call.body, QStringLiteral("All 5 converted\nImages in /tmp/out"));
    QCOMPARE(call.timeout, -1);
    server.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
  }

  // How the end of a run reads, in the status bar and in the notification.
  void summaryTexts() {
    const struct {
      RunCounts counts;
      bool stopped;
      const char* text;
    } cases[] = {
        {{5, 5, 0, 0}, false, "All 5 converted"},
        {{1, 1, 0, 0}, false, "Converted"},
        {{5, 4, 1, 0}, false, "4 of 5 converted, 1 failed"},
        {{5, 2, 0, 3}, true, "Stopped: 2 of 5 converted"},
        {{5, 2, 1, 2}, true, "Stopped: 2 of 5 converted, 1 failed"},
        {{3, 0, 3, 0}, false, "0 of 3 converted, 3 failed"},
    };
    for (const auto& c : cases)
      QCOMPARE(RunSummaryText(c.counts, c.stopped), QString::fromLatin1(c.text));
  }
};

}  // namespace orvalis

QTEST_MAIN(orvalis::DesktopNotificationTest)
#include "desktop_notification_test.moc"
