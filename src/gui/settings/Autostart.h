#pragma once

#include <QString>

class CSettingsStore;

// The entry that starts Velmo when the user logs in: velmo.desktop in the autostart folder of the
// user's configuration, which runs the installed desktop entry's command with --background.
class CAutostart {
public:
    // The autostart folder of the configuration folder that holds `settings`.
    explicit CAutostart(const CSettingsStore& settings);

    const QString& File() const { return m_strFile; }
    bool IsEnabled() const;
    // Writes or removes the entry; on failure `why` says what went wrong.
    bool Enable(QString* why) const;
    bool Disable(QString* why) const;

    // The command of the entry: the Exec of the installed velmo.desktop, or this program when no
    // desktop entry is installed, followed by --background.
    static QString Command();

private:
    QString m_strFile;
};
