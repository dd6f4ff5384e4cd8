#pragma once

#include <QDialog>

#include "core/address/DetectScript.h"
#include "core/spider/SpiderRun.h"
#include "gui/app/DesktopPresence.h"
#include "gui/pages/AboutPage.h"
#include "gui/pages/PollingPage.h"
#include "gui/pages/RouterPage.h"
#include "gui/pages/SpiderPage.h"

class CDesktop;
class CSettingsStore;
class QPushButton;
class QTabWidget;

// What the window needs from its surroundings. The program keeps the defaults; tests aim the
// detector at loopback servers, shorten the time-outs and the poll interval, and record what the
// desktop is asked to do.
struct SheetEnvironment {
    std::vector<std::string> detectionServers;  // empty: the built-in ten
    SpiderSettings spider;
    PollingSettings polling;
    CDesktop* desktop = nullptr;  // null: the system's
    IGateway* gateway = nullptr;  // null: the router's own, through the network
    // The user's list of detection servers when it is there but gives none, and why: Run then
    // says so rather than asking any server.
    std::string unusableServersFile;
    std::string unusableServersWhy;
};

// The program's window: the four tabs and one Close button. It wires the pages, which know
// nothing of one another, and it is where the spider worker posts its messages; they are handed
// to the Status page in posting order, whichever tab shows.
class CTestSheet : public QDialog, public ISpiderSink {
    Q_OBJECT

public:
    explicit CTestSheet(CSettingsStore& settings, SheetEnvironment environment = {},
                        QWidget* parent = nullptr);
    ~CTestSheet() override;

    // Runs until the window closes; in the background it starts out of the way (see Presence).
    int DoModal(bool bBackground = false) { return m_presence.Run(bBackground); }

    // Leaves the current page (which may refuse) and shows `page`; false when it stays.
    bool SetActivePage(CPropertyPage* page);
    CPropertyPage* GetActivePage() const;

    CRouterPage& RouterPage() { return m_routerPage; }
    CSpiderPage& StatusPage() { return m_statusPage; }
    CPollingPage& PollingPage() { return m_pollingPage; }
    CAboutPage& AboutPage() { return m_aboutPage; }
    const CDetectScript& Detector() const { return m_detector; }
    CDesktopPresence& Presence() { return m_presence; }

    // Called from the worker thread.
    void Post(SpiderMessage message, std::string text) override;

    // Escape and the window's own close button; in the tray while polling there.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The one way from tab to tab: the page in front must agree to be left, and the next one is
    // initialised before it is ever visible.
    bool SwitchTo(int index);
    void InitializePage(CPropertyPage* page);
    CPropertyPage* PageAt(int index) const;
    void OnTabChanged(int index);
    void OnClose();

    // The detector lives as long as the window, so its rotation carries over from run to run.
    CDetectScript m_detector;
    CDesktop& m_desktop;
    QTabWidget* m_pTabs;
    QPushButton* m_pClose = nullptr;
    int m_nActive = 0;
    bool m_bSwitching = false;

    CRouterPage m_routerPage;
    CSpiderPage m_statusPage;
    CPollingPage m_pollingPage;
    CAboutPage m_aboutPage;
    CDesktopPresence m_presence;
};
