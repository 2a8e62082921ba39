// The completion notice: what reaches a notification service on a private session bus, and
// silence without a bus.
#include "platform/notify.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <cstdlib>

#include "tests/support/files.h"
#include "tests/support/qtwait.h"

namespace {

// Stands in for the desktop's notification server: keeps the calls it gets and answers them.
class FakeNotificationServer : public QDBusVirtualObject {
 public:
  QList<QDBusMessage> calls;
  QString introspect(const QString&) const override { return QString(); }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    calls << message;
    connection.send(message.createReply(QVariantList{QVariant::fromValue(7u)}));
    return true;
  }
};

TEST(NotifyTest, WithoutASessionBusNothingIsPostedOrStarted) {
  ScratchDir runtime;  // no "bus" socket in it
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  setenv("XDG_RUNTIME_DIR", runtime.Path.c_str(), 1);
  EXPECT_FALSE(PostDesktopNotification("Sonivert: 1 files converted, 0 failed"));
}

TEST(NotifyTest, OneNoticeReachesTheNotificationService) {
  ScratchDir socketDir;  // the bus's socket goes here, not into /tmp where it would stay
  QProcess daemon;
  daemon.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                QStringLiteral("--address=unix:dir=") + QString::fromStdString(socketDir.Path)});
  ASSERT_TRUE(daemon.waitForStarted(10000));
  ASSERT_TRUE(daemon.waitForReadyRead(10000));
  const QString address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
  ASSERT_FALSE(address.isEmpty());
  setenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit().constData(), 1);

  QDBusConnection service =
      QDBusConnection::connectToBus(address, QStringLiteral("fake-notification-server"));
  ASSERT_TRUE(service.isConnected());
  FakeNotificationServer server;
  ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &server));
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

  EXPECT_TRUE(PostDesktopNotification("Sonivert: 3 files converted, 1 failed"));
  WaitForEvents([&] { return !server.calls.isEmpty(); }, 10000);
  ASSERT_EQ(server.calls.size(), 1);
  const QDBusMessage& call = server.calls.first();
  EXPECT_EQ(call.interface(), QStringLiteral("org.freedesktop.Notifications"));
  EXPECT_EQ(call.member(), QStringLiteral("Notify"));
  EXPECT_EQ(call.signature(), QStringLiteral("susssasa{sv}i"));
  const QVariantList args = call.arguments();
  ASSERT_EQ(args.size(), 8);
  EXPECT_EQ(args[0].toString(), QStringLiteral("Sonivert"));
  EXPECT_EQ(args[3].toString(), QStringLiteral("Sonivert: 3 files converted, 1 failed"));
  EXPECT_TRUE(args[5].toStringList().isEmpty());  // no actions: nothing that would raise a window

  QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
  daemon.kill();
  daemon.waitForFinished(10000);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
