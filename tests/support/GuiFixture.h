#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "gui/app/TestSheet.h"
#include "gui/app/VelmoApp.h"
#include "gui/desktop/Desktop.h"

class QTabBar;

// A fresh settings folder, the application object and a desktop that records instead of showing:
// message boxes, files and URLs opened, error beeps.
class CGuiFixture {
public:
    CGuiFixture();
    ~CGuiFixture();

    struct Box {
        QString text;
        MessageIcon icon;
        QString activeTab;  // the sheet's tab when the box came up
    };

    // Builds the sheet, as start-up does, and shows it.
    CTestSheet& OpenSheet();
    void CloseSheet() { m_sheet.reset(); }
    CTestSheet& Sheet() { return *m_sheet; }

    // Clicks the tab with this caption.
    void ClickTab(const QString& caption);
    QString ActiveTab() const;

    // The raw text of the settings file.
    QString SettingsText() const;
    QString SettingsPath() const;

    // The detection servers of the sheet OpenSheet builds; none is ever the real ten.
    std::vector<std::string> detectionServers{"http://127.0.0.1:9/"};

    std::vector<Box> boxes;
    QStringList opened;
    int beeps = 0;
    bool bOpenSucceeds = true;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CVelmoApp> m_app;
    std::unique_ptr<CTestSheet> m_sheet;
};

// Shared test-process set-up: offscreen-safe environment, no proxies, no name server.
void InitGuiTestProcess();
