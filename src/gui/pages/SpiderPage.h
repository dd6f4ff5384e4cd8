#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <functional>

#include "core/spider/SpiderRules.h"
#include "core/spider/SpiderRun.h"
#include "gui/controls/HyperLink.h"
#include "gui/controls/IPAddressCtrl.h"
#include "gui/controls/UrlListCtrl.h"
#include "gui/pages/PropertyPage.h"
#include "gui/pages/RouterTarget.h"

class CDesktop;
class CSettingsStore;

// The Status tab: runs and cancels the spider test, shows the detected address, the parsed-page
// count and the pages that hold the address, hands a page to the Polling tab and opens the
// parsed-pages report. The run's worker posts to `sink`, which hands the messages back to the
// On… handlers below; `isPolling` tells whether Run must wait for polling to stop. Whether runs
// search scripts too is kept in the settings.
class CSpiderPage : public CPropertyPage {
    Q_OBJECT

public:
    CSpiderPage(CSettingsStore& settings, ISpiderSink& sink, CDetectScript& detector,
                IRouterTarget& router, CDesktop& desktop, std::function<bool()> isPolling,
                SpiderSettings spider = {});
    ~CSpiderPage() override;  // removes the report file

    bool OnInitDialog() override;
    bool OnSetActive() override;

    void OnRun();
    void OnItemActivate(int row);
    void OnListClick();
    void OnListDblClick();
    void OnViewParsedPages();

    // The worker's messages, relayed by the sheet.
    void OnPageParsed();
    void OnPageFound(const std::string& path);
    void OnAddressDetected(const std::string& address);
    void OnSpiderDone();

    void EnableRun(bool bEnable);
    void SetPollingPath(const QString& path);

    bool IsRunning() const { return m_bRunning; }
    const QString& ReportFile() const { return m_strReportFile; }
    // Abandons a run in progress and waits for the worker.
    void StopWorker() { m_run.Shutdown(); }

Q_SIGNALS:
    void pathChosen(const QString& path);
    // A double click in the list: bring the Polling tab forward and press its Poll button.
    void pollingToggleRequested();
    void runningChanged(bool bRunning);

private:
    CSettingsStore& m_settings;
    IRouterTarget& m_router;
    CDesktop& m_desktop;
    std::function<bool()> m_isPolling;
    bool m_bRunning = false;
    int m_nParsedPages = 0;
    CUrlListCtrl m_listPages;
    QPushButton m_btnRun;
    CIPAddressCtrl m_ctrlAddress;
    CHyperLink m_linkReport;
    QLabel m_staticCount;
    QCheckBox m_chkDeep;
    QString m_strReportFile;
    CFoundPages m_found;
    CSpiderRun m_run;
};
