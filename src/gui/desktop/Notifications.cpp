#include "gui/desktop/Notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "core/text/StringTable.h"
#include "gui/text/Bytes.h"

void ShowNotification(const QString& summary, const QString& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The icon is the one installed under the icon theme's name; the desktop entry lets the
    // desktop group the notices with the program and apply the user's choices for it.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("velmo")}};
    call << LoadText(IDS_APP_TITLE) << 0u << QStringLiteral("velmo") << summary << body
         << QStringList() << hints << -1;
    QDBusConnection::sessionBus().send(call);
}
