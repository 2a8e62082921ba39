#include "platform/notify.h"

#include "sonivert_version.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QVariantMap>

bool PostDesktopNotification(const std::string& text) {
  // Without an announced bus and without the per-user bus socket there is no session bus. The
  // check comes first because the bus library would otherwise try to launch a bus of its own.
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))) return false;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage notify = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(SonivertAppId));
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));  // normal
  // Arguments: application name, id to replace (none), icon, summary, body, actions (none:
  // nothing to click that would raise a window), hints, expiry (the server's default).
  notify << QStringLiteral("Sonivert") << 0u << QString::fromLatin1(SonivertAppId)
         << QString::fromStdString(text) << QString() << QStringList() << hints << -1;
  // send() queues the call and returns; the reply (the notice's id, or an error when no service
  // answers) is not awaited.
  return bus.send(notify);
}
