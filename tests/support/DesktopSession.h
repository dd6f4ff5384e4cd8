#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

class CFakeNotifications;
class CFakeTrayWatcher;

// A desktop session of the test's own, shared by the tests of notifications, the tray and the
// keyring: a private session bus on which no service can be started, an X server, a notification
// service and a tray watcher that record what they are sent (served by a thread of their own, so
// the window's blocking calls are answered), and a real gnome-keyring-daemon, unlocked. It ends
// everything it started, by pid.
class CDesktopSession {
public:
    // The bus and the X server; this process is pointed at them. Before the QApplication.
    CDesktopSession();
    ~CDesktopSession();
    CDesktopSession(const CDesktopSession&) = delete;
    CDesktopSession& operator=(const CDesktopSession&) = delete;

    // Once the QApplication exists: the recording services and the keyring. False, with the
    // reason on standard error, when something did not start.
    bool StartServices();
    // Before the QApplication ends.
    void StopServices();

    struct Notice {
        QString appName;
        QString icon;
        QString summary;
        QString body;
        QVariantMap hints;
    };
    QList<Notice> Notices() const;
    void ClearNotices();
    // The bus names of the tray items registered with the watcher, oldest first.
    QStringList TrayItems() const;

    // Calls a method of the window's own objects as another program on the bus would, serving
    // the window meanwhile; an error message when there is no answer.
    QDBusMessage Call(const QDBusMessage& call);

    // What the keyring holds for Velmo under `key`, read by secret-tool, a program of its own.
    std::optional<std::string> KeyringSecret(const QString& key) const;
    // The names of the keyring's items for `key`, whichever program stored them.
    QStringList KeyringItems(const QString& key) const;

private:
    QTemporaryDir m_dir;
    pid_t m_busPid = -1;
    pid_t m_xPid = -1;
    pid_t m_keyringPid = -1;
    QString m_strBusAddress;
    QThread m_thread;
    std::unique_ptr<QDBusConnection> m_connection;
    CFakeNotifications* m_pNotifications = nullptr;
    CFakeTrayWatcher* m_pWatcher = nullptr;
};

// A main() for a Qt Test class that runs in a CDesktopSession.
#define VELMO_DESKTOP_TEST_MAIN(TestClass)                    \
    int main(int argc, char** argv) {                         \
        CDesktopSession session;                              \
        QApplication app(argc, argv);                         \
        if (!session.StartServices()) {                       \
            return 1;                                         \
        }                                                     \
        TestClass test(session);                              \
        const int failures = QTest::qExec(&test, argc, argv); \
        session.StopServices();                               \
        return failures;                                      \
    }
