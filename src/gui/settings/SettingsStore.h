#pragma once

#include <QString>

#include <cstdint>

// The per-user settings: an INI file of sections and entries. Every operation opens the file,
// does its work and closes it again, so a value written is what the next read returns. Failures
// are silent (a file too large is said once on standard error): a read gives its default, a write
// answers false.
//
// Only a regular file (or none yet) of at most kMaxSettingsBytes is ever opened. Anything else at
// the path, a folder, a FIFO, a device or a file too large for settings, reads as empty and is
// never written, so no start-up waits on it or reads it whole.
class CSettingsStore {
public:
    static constexpr qint64 kMaxSettingsBytes = 1024 * 1024;

    explicit CSettingsStore(QString file);

    // The file of `company`'s `application` in the user's configuration folder.
    static QString UserFile(const QString& company, const QString& application);

    const QString& File() const { return m_strFile; }

    QString GetProfileString(const QString& section, const QString& entry,
                             const QString& defaultValue = {}) const;
    std::uint32_t GetProfileInt(const QString& section, const QString& entry,
                                std::uint32_t defaultValue) const;
    bool WriteProfileString(const QString& section, const QString& entry, const QString& value);
    bool WriteProfileInt(const QString& section, const QString& entry, std::uint32_t value);

private:
    bool IsUsable() const;

    QString m_strFile;
    mutable bool m_bWarnedTooLarge = false;  // said once on standard error, not at every read
};
