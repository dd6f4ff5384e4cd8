#include "support/DesktopSession.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Process.h"
#include "support/Wait.h"

extern char** environ;

// Records each notice and answers like a notification server.
class CFakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    mutable QMutex mutex;
    QList<CDesktopSession::Notice> notices;

public Q_SLOTS:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        const QMutexLocker lock(&mutex);
        notices.push_back({appName, icon, summary, body, hints});
        return static_cast<uint>(notices.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& protocolVersion) {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return QStringLiteral("recorder");
    }
};

// A tray that a host shows: the watcher Qt looks for, recording the items registered.
class CFakeTrayWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)

public:
    mutable QMutex mutex;
    QStringList items;

    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const {
        const QMutexLocker lock(&mutex);
        return items;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        {
            const QMutexLocker lock(&mutex);
            items << service;
        }
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
};

namespace {

// Starts `args` with this environment plus `extra` ("NAME=value"), `in` as its standard input
// (-1: /dev/null), `out` as its standard output and error (-1: /dev/null) and `keep` left open.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extra, int in,
            int out, int keep = -1) {
    std::vector<std::string> environment(extra);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('=') + 1);
        bool bReplaced = false;
        for (const std::string& own : extra) {
            bReplaced = bReplaced || own.starts_with(name);
        }
        if (!bReplaced) {
            environment.push_back(text);
        }
    }
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        // A test that crashes takes its daemons along.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(in >= 0 ? in : null, 0);
        dup2(out >= 0 ? out : null, 1);
        dup2(out >= 0 ? out : null, 2);
        if (keep >= 0) {
            fcntl(keep, F_SETFD, 0);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(null);
    return pid;
}

// The first line a starting daemon writes to `fd`, without its line end.
std::string FirstLine(int fd) {
    std::string line;
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

void End(pid_t& pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

}  // namespace

CDesktopSession::CDesktopSession() {
    const QString dir = m_dir.path();
    // A session bus with no service folders: nothing of the machine's can be started on it.
    QFile config(dir + "/bus.conf");
    if (config.open(QIODevice::WriteOnly)) {
        config.write(QStringLiteral("<busconfig><type>session</type>"
                                    "<listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                    "<policy context=\"default\">"
                                    "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                    "</policy></busconfig>")
                         .arg(dir)
                         .toUtf8());
        config.close();
    }
    int busPipe[2];
    int xPipe[2];
    if (pipe2(busPipe, O_CLOEXEC) != 0 || pipe2(xPipe, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return;
    }
    m_busPid = Spawn({"/usr/bin/dbus-daemon", "--config-file=" + (dir + "/bus.conf").toStdString(),
                      "--nofork", "--print-address=" + std::to_string(busPipe[1])},
                     {}, -1, -1, busPipe[1]);
    m_xPid = Spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(xPipe[1]), "-nolisten", "tcp",
                    "-screen", "0", "1280x1024x24"},
                   {}, -1, -1, xPipe[1]);
    close(busPipe[1]);
    close(xPipe[1]);
    m_strBusAddress = QString::fromStdString(FirstLine(busPipe[0]));
    const std::string display = FirstLine(xPipe[0]);
    close(busPipe[0]);
    close(xPipe[0]);
    setenv("DBUS_SESSION_BUS_ADDRESS", m_strBusAddress.toUtf8().constData(), 1);
    setenv("DISPLAY", (':' + display).c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    if (m_strBusAddress.isEmpty() || display.empty()) {
        std::fprintf(stderr, "the session bus or the X server did not start\n");
    }
}

CDesktopSession::~CDesktopSession() {
    StopServices();
    End(m_keyringPid);
    End(m_xPid);
    End(m_busPid);
}

bool CDesktopSession::StartServices() {
    m_connection = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(m_strBusAddress, QStringLiteral("velmo-test-services")));
    m_pNotifications = new CFakeNotifications;
    m_pWatcher = new CFakeTrayWatcher;
    const auto all = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                     QDBusConnection::ExportAllProperties;
    if (!m_connection->registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                      m_pNotifications, all) ||
        !m_connection->registerService(QStringLiteral("org.freedesktop.Notifications")) ||
        !m_connection->registerObject(QStringLiteral("/StatusNotifierWatcher"), m_pWatcher, all) ||
        !m_connection->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "the recording services did not start: %s\n",
                     qPrintable(m_connection->lastError().message()));
        return false;
    }
    // Registered first, so what the bus keeps for them moves along.
    m_pNotifications->moveToThread(&m_thread);
    m_pWatcher->moveToThread(&m_thread);
    m_thread.start();
    // A desktop without a keyring, for the tests of what counts as one (DesktopTestNoKeyring).
    if (qEnvironmentVariableIsSet("VELMO_TEST_NO_KEYRING")) {
        return true;
    }

    // The keyring keeps its files and its socket in the session's folder; "login", made and
    // unlocked with the password on its input, is the default collection.
    const QString dir = m_dir.path();
    QDir().mkpath(dir + "/data");
    QDir().mkpath(dir + "/run");
    QFile::setPermissions(dir + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        return false;
    }
    const int log = open((dir + "/keyring.log").toUtf8().constData(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_keyringPid =
        Spawn({"/usr/bin/gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
              {"HOME=" + dir.toStdString(), "XDG_DATA_HOME=" + (dir + "/data").toStdString(),
               "XDG_RUNTIME_DIR=" + (dir + "/run").toStdString()},
              in[0], log);
    close(in[0]);
    close(log);
    [[maybe_unused]] const ssize_t written = write(in[1], "session", 7);
    close(in[1]);
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!WaitUntil([&] {
            return bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value();
        })) {
        QFile file(dir + "/keyring.log");
        file.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "gnome-keyring-daemon did not start: %s\n",
                     file.readAll().constData());
        return false;
    }
    return true;
}

void CDesktopSession::StopServices() {
    if (!m_connection) {
        return;
    }
    m_connection->unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    m_connection->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    m_connection->unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    m_connection->unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    for (QObject* service : std::initializer_list<QObject*>{m_pNotifications, m_pWatcher}) {
        QMetaObject::invokeMethod(
            service, [service] { delete service; }, Qt::BlockingQueuedConnection);
    }
    m_thread.quit();
    m_thread.wait();
    m_pNotifications = nullptr;
    m_pWatcher = nullptr;
    QDBusConnection::disconnectFromBus(QStringLiteral("velmo-test-services"));
    m_connection.reset();
}

QList<CDesktopSession::Notice> CDesktopSession::Notices() const {
    const QMutexLocker lock(&m_pNotifications->mutex);
    return m_pNotifications->notices;
}

void CDesktopSession::ClearNotices() {
    const QMutexLocker lock(&m_pNotifications->mutex);
    m_pNotifications->notices.clear();
}

QStringList CDesktopSession::TrayItems() const {
    return m_pWatcher->RegisteredStatusNotifierItems();
}

QDBusMessage CDesktopSession::Call(const QDBusMessage& call) {
    const QDBusPendingCall pending = m_connection->asyncCall(call, 20000);
    QDBusPendingCallWatcher watcher(pending);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished()) {
        loop.exec();
    }
    return watcher.reply();
}

std::optional<std::string> CDesktopSession::KeyringSecret(const QString& key) const {
    const ProcessResult lookup =
        RunProgram({"/usr/bin/secret-tool", "lookup", "server",
                    "Velmo router password for " + key.toStdString(), "user", key.toStdString()});
    if (lookup.status != 0) {
        return std::nullopt;
    }
    return lookup.out;
}

QStringList CDesktopSession::KeyringItems(const QString& key) const {
    const ProcessResult search =
        RunProgram({"/usr/bin/secret-tool", "search", "--all", "user", key.toStdString()});
    QStringList labels;
    for (const std::string& line : search.Lines()) {
        if (line.rfind("label = ", 0) == 0) {
            labels << QString::fromStdString(line.substr(8));
        }
    }
    return labels;
}

#include "DesktopSession.moc"
