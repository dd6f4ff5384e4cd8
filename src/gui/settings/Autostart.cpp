#include "gui/settings/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

#include "core/text/StringTable.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

const QString kEntryName = QStringLiteral("velmo.desktop");

// The Exec key of the [Desktop Entry] group of a desktop file, as it stands; empty if none.
QString ExecOf(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    bool bMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith('[')) {
            bMainGroup = line == QLatin1String("[Desktop Entry]");
        } else if (bMainGroup && line.startsWith(QLatin1String("Exec"))) {
            const qsizetype equals = line.indexOf('=');
            if (equals > 0 && line.left(equals).trimmed() == QLatin1String("Exec")) {
                return line.mid(equals + 1).trimmed();
            }
        }
    }
    return {};
}

// A path as one argument of an Exec value: quoted when it holds anything beyond the plain
// characters, then escaped as a desktop file's string value.
QString ExecArgument(const QString& path) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    if (plain.match(path).hasMatch()) {
        return path;
    }
    QString quoted;
    for (const QChar c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c == '%' ? QStringLiteral("%%") : QString(c);
    }
    quoted = '"' + quoted + '"';
    return quoted.replace('\\', QLatin1String("\\\\"));
}

}  // namespace

CAutostart::CAutostart(const CSettingsStore& settings) {
    // The settings are <config>/Ravik/Velmo.ini; the entry is <config>/autostart/velmo.desktop.
    QDir config = QFileInfo(settings.File()).dir();
    config.cdUp();
    m_strFile = config.absoluteFilePath(QStringLiteral("autostart/") + kEntryName);
}

bool CAutostart::IsEnabled() const {
    return QFileInfo(m_strFile).isFile();
}

QString CAutostart::Command() {
    QString exec = ExecOf(QStandardPaths::locate(QStandardPaths::ApplicationsLocation, kEntryName));
    if (exec.isEmpty()) {
        exec = ExecArgument(QCoreApplication::applicationFilePath());
    }
    return exec + QStringLiteral(" --background");
}

bool CAutostart::Enable(QString* why) const {
    if (!QDir().mkpath(QFileInfo(m_strFile).path())) {
        *why = QStringLiteral("Cannot create the folder %1.").arg(QFileInfo(m_strFile).path());
        return false;
    }
    QSaveFile file(m_strFile);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream out(&file);
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Name=" << LoadText(IDS_APP_TITLE) << '\n'
            << "Comment=Keep polling the router's status page from login on\n"
            << "Exec=" << Command() << '\n'
            << "Icon=velmo\n"
            << "Terminal=false\n";
        out.flush();
        if (file.commit()) {
            return true;
        }
    }
    *why = QStringLiteral("Cannot write %1: %2").arg(m_strFile, file.errorString());
    return false;
}

bool CAutostart::Disable(QString* why) const {
    QFile file(m_strFile);
    if (!file.exists() || file.remove()) {
        return true;
    }
    *why = QStringLiteral("Cannot remove %1: %2").arg(m_strFile, file.errorString());
    return false;
}
