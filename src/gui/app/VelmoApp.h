#pragma once

#include <QString>

#include <optional>

#include "gui/app/TestSheet.h"
#include "gui/settings/SettingsStore.h"

// The application object: the settings root, then the window, run until the user closes it.
class CVelmoApp {
public:
    CVelmoApp();  // the application name is the title string, "Velmo"

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
    std::optional<CSettingsStore> m_settings;
};
