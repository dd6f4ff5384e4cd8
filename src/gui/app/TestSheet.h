#pragma once

#include <QDialog>

#include "core/address/DetectScript.h"
#include "core/spider/SpiderRun.h"
#include "gui/pages/AboutPage.h"
#include "gui/pages/PollingPage.h"
#include "gui/pages/RouterPage.h"
#include "gui/pages/SpiderPage.h"

class QPushButton;
class QTabWidget;

// What the window needs from its surroundings. The program keeps the defaults; tests aim the
// detector at loopback servers and shorten the time-outs.
struct SheetEnvironment {
    std::vector<std::string> detectionServers;  // empty: the built-in ten
    SpiderSettings spider;
};

// The program's window: the four tabs and one Close button. It is also where the spider worker
// posts its messages; they are handed to the Status page in posting order, whichever tab shows.
class CTestSheet : public QDialog, public ISpiderSink {
    Q_OBJECT

public:
    explicit CTestSheet(QWidget* parent = nullptr, SheetEnvironment environment = {});
    ~CTestSheet() override;

    int DoModal() { return exec(); }

    // Leaves the current page (which may refuse) and shows `page`; false when it stays.
    bool SetActivePage(CPropertyPage* page);
    CPropertyPage* GetActivePage() const;

    CRouterPage& RouterPage() { return m_routerPage; }
    CSpiderPage& StatusPage() { return m_statusPage; }
    CPollingPage& PollingPage() { return m_pollingPage; }
    CAboutPage& AboutPage() { return m_aboutPage; }

    // Called from the worker thread.
    void Post(SpiderMessage message, std::string text) override;

protected:
    bool event(QEvent* event) override;

private:
    void OnTabChanged(int index);
    void OnClose();

    // The detector lives as long as the window, so its rotation carries over from run to run.
    CDetectScript m_detector;
    QTabWidget* m_pTabs;
    QPushButton* m_pClose;
    int m_nActive = 0;
    bool m_bSwitching = false;

    CRouterPage m_routerPage;
    CSpiderPage m_statusPage;
    CPollingPage m_pollingPage;
    CAboutPage m_aboutPage;
};
