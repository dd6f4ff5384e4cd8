#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "gui/app/TestSheet.h"
#include "gui/desktop/Desktop.h"
#include "gui/settings/SettingsStore.h"
#include "support/FakeGateway.h"

class CLoopbackServer;

class QTabBar;

// A fresh settings file, a gateway that answers as told and a desktop that records instead of
// showing: message boxes, files and URLs opened, error beeps.
class CGuiFixture : public CDesktop {
public:
    CGuiFixture();
    ~CGuiFixture() override;

    struct Box {
        QString text;
        MessageIcon icon;
        QString activeTab;       // the sheet's tab when the box came up
        QString shownPage;       // the caption of the page visible then
        QWidget* window;         // the window the box belongs to
        QString detail;          // the note below the text
        QString action;          // the caption of its second button; empty: OK alone
        bool bQuestion = false;  // action and Cancel, Cancel the default
    };

    // Builds the sheet, as start-up does, and shows it.
    CTestSheet& OpenSheet();
    // Opens the sheet as the active window and clicks the tab with this caption.
    CTestSheet& OpenOnTab(const QString& caption);
    // Builds it without showing it, for a start in the background.
    CTestSheet& BuildSheet();
    void CloseSheet() { m_sheet.reset(); }
    CTestSheet& Sheet() { return *m_sheet; }
    CSettingsStore& Settings() { return m_settings; }

    // Clicks the tab with this caption.
    void ClickTab(const QString& caption);
    QString ActiveTab() const;
    QString ShownPage() const;

    // The raw text of the settings file.
    QString SettingsText() const;
    QString SettingsPath() const;

    // The Polling tab's log, a line each.
    QStringList LogLines();

    // Detection through a server of the fixture that answers only after a minute, so that a run
    // stays in its detection as long as a test needs.
    void DetectSlowly();

    // What OpenSheet gives the sheet. No detection server is ever one of the real ten. The poll
    // timer never fires during a test: tests give the ticks (PollOnce).
    std::vector<std::string> detectionServers{"http://127.0.0.1:9/"};
    std::string unusableServersFile, unusableServersWhy;  // see SheetEnvironment
    PollingSettings polling{std::chrono::hours(1), {}, {}};
    CFakeGateway gateway;       // no test asks a real one, unless it sets this:
    bool bRealGateway = false;  // the router's own, through the network, as the program asks

    std::vector<Box> boxes;
    std::function<void()> whileBoxIsUp;  // runs as each box is recorded
    QStringList opened;
    int beeps = 0;
    bool bOpenSucceeds = true;

    void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                     const QString& detail = {}) override;
    bool ShowChoice(QWidget* owner, const QString& text, MessageIcon icon,
                    const QString& action) override;
    bool bPressAction = false;  // a box's second button rather than OK, or Cancel
    bool ShowQuestion(QWidget* owner, const QString& text, const QString& detail,
                      const QString& action) override;
    bool Open(const QString& target) override;
    void Beep() override { ++beeps; }

private:
    QTemporaryDir m_dir;
    CSettingsStore m_settings;
    std::unique_ptr<CLoopbackServer> m_slowDetection;
    std::unique_ptr<CTestSheet> m_sheet;
};

// Standard error, caught while this lives: what the window says there.
class CCapturedStderr {
public:
    CCapturedStderr();
    ~CCapturedStderr();
    CCapturedStderr(const CCapturedStderr&) = delete;
    CCapturedStderr& operator=(const CCapturedStderr&) = delete;

    // The lines written so far that start with `prefix`, without it.
    QStringList Lines(const QString& prefix);

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// The texts of the labels in `widget`.
QStringList LabelTexts(const QWidget& widget);

// Gives `page` one tick of polling and waits until its read is logged; false when it is not within
// 20 s, which only a hang takes.
bool PollOnce(CPollingPage& page);

// Shared test-process set-up: offscreen-safe environment, no proxies, no name server.
void InitGuiTestProcess();
