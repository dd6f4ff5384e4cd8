#pragma once

#include <QString>

#include <optional>

#include "gui/app/TestSheet.h"
#include "gui/settings/SettingsStore.h"

// The application object: the settings root, then the window, run until the user closes it.
class CVelmoApp {
public:
    // The application name is the title string, "Velmo". In the background (a start at login)
    // the window starts out of the way and polling resumes.
    explicit CVelmoApp(bool bBackground = false);

    // Settings root first, then the sheet and its pages, then the modal run; returns false so the
    // process ends when the window closes.
    bool InitInstance();

    // Every setting lives in the user's file of `company` and this application from now on.
    void SetRegistryKey(const QString& company);

    // What start-up gives the window: the user's own detection servers (DetectionServersFilePath)
    // when the list holds at least one usable entry. What the list leaves out is said on standard
    // error. The program never writes that file.
    static SheetEnvironment StartupEnvironment();

private:
    QString m_strAppName;
    bool m_bBackground;
    std::optional<CSettingsStore> m_settings;
};
