#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// The per-user settings: an INI file of sections and entries. Every operation opens the file,
// does its work and closes it again, so a value written is what the next read returns. Failures
// are silent: a read gives its default, a write answers false.
//
// Only a regular file (or none yet) is ever opened. Anything else at the path, a folder, a FIFO
// or a device, reads as empty and is never written, so no start-up waits on it.
class CSettingsStore {
public:
    explicit CSettingsStore(QString file);

    // The file of `company`'s `application` in the user's configuration folder.
    static QString UserFile(const QString& company, const QString& application);

    const QString& File() const { return m_strFile; }

    QString GetProfileString(const QString& section, const QString& entry,
                             const QString& defaultValue = {}) const;
    std::uint32_t GetProfileInt(const QString& section, const QString& entry,
                                std::uint32_t defaultValue) const;
    // A list entry ("a, b, c"), each item as the bytes it stands for; empty when absent.
    std::vector<std::string> GetProfileList(const QString& section, const QString& entry) const;
    bool WriteProfileString(const QString& section, const QString& entry, const QString& value);
    bool WriteProfileInt(const QString& section, const QString& entry, std::uint32_t value);

private:
    bool IsUsable() const;

    QString m_strFile;
};
