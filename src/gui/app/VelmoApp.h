#pragma once

#include <QString>

#include <cstdint>

// The application object: start-up and the per-user settings store.
//
// Settings live in an INI file under the user's configuration folder: company, then profile
// (the application name), then one group per section. Every operation opens the store, does its
// work and closes it again, so a value written is what the next read returns.
class CVelmoApp {
public:
    CVelmoApp();  // the application name is the title string, "Velmo"
    ~CVelmoApp();
    CVelmoApp(const CVelmoApp&) = delete;
    CVelmoApp& operator=(const CVelmoApp&) = delete;

    // Settings root first, then the sheet and its pages, then the modal run; returns false so the
    // process ends when the window closes.
    bool InitInstance();

    void SetRegistryKey(const QString& company);
    QString GetProfileString(const QString& section, const QString& entry,
                             const QString& defaultValue = {}) const;
    std::uint32_t GetProfileInt(const QString& section, const QString& entry,
                                std::uint32_t defaultValue) const;
    bool WriteProfileString(const QString& section, const QString& entry, const QString& value);
    bool WriteProfileInt(const QString& section, const QString& entry, std::uint32_t value);

private:
    QString m_strAppName;
    QString m_strRegistryKey;
    QString m_strProfileName;
};

// The one application object, or null before it exists.
CVelmoApp* TheApp();
