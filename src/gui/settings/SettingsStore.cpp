#include "gui/settings/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>

#include <cerrno>
#include <iostream>

namespace {

QString Key(const QString& section, const QString& entry) {
    return section + '/' + entry;
}

}  // namespace

CSettingsStore::CSettingsStore(QString file) : m_strFile(std::move(file)) {}

QString CSettingsStore::UserFile(const QString& company, const QString& application) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' + company +
           '/' + application + QStringLiteral(".ini");
}

bool CSettingsStore::IsUsable() const {
    // stat() neither opens nor blocks, whatever the path names.
    struct stat info {};
    if (stat(QFile::encodeName(m_strFile).constData(), &info) != 0) {
        return errno == ENOENT;
    }
    if (S_ISREG(info.st_mode) && info.st_size > kMaxSettingsBytes) {
        if (!m_bWarnedTooLarge) {
            m_bWarnedTooLarge = true;
            std::cerr << "velmo: " << QFile::encodeName(m_strFile).constData()
                      << ": larger than 1 MiB: not read, and nothing is saved to it\n";
        }
        return false;
    }
    return S_ISREG(info.st_mode);
}

QString CSettingsStore::GetProfileString(const QString& section, const QString& entry,
                                         const QString& defaultValue) const {
    if (!IsUsable()) {
        return defaultValue;
    }
    const QSettings settings(m_strFile, QSettings::IniFormat);
    return settings.value(Key(section, entry), defaultValue).toString();
}

std::uint32_t CSettingsStore::GetProfileInt(const QString& section, const QString& entry,
                                            std::uint32_t defaultValue) const {
    bool bOk = false;
    const qlonglong value = GetProfileString(section, entry).toLongLong(&bOk);
    return bOk ? static_cast<std::uint32_t>(value) : defaultValue;
}

bool CSettingsStore::WriteProfileString(const QString& section, const QString& entry,
                                        const QString& value) {
    if (!IsUsable()) {
        return false;
    }
    QSettings settings(m_strFile, QSettings::IniFormat);
    settings.setValue(Key(section, entry), value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool CSettingsStore::WriteProfileInt(const QString& section, const QString& entry,
                                     std::uint32_t value) {
    return WriteProfileString(section, entry, QString::number(value));
}
