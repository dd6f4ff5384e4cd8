#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <functional>

#include "core/gateway/WanAddress.h"
#include "core/spider/FoundPages.h"
#include "core/spider/SpiderRules.h"
#include "core/spider/SpiderRun.h"
#include "gui/controls/AddressDisplay.h"
#include "gui/controls/HyperLink.h"
#include "gui/controls/UrlListCtrl.h"
#include "gui/pages/GatewayCheck.h"
#include "gui/pages/PropertyPage.h"
#include "gui/pages/RouterTarget.h"
#include "gui/pages/Worker.h"

class CDesktop;
class CSettingsStore;

// The Status tab: runs and cancels the spider test, shows the detected address, the parsed-page
// count and the pages that hold the address, hands a page to the Polling tab and opens the
// parsed-pages report. The run's worker posts to `sink`, which hands the messages back to the
// On… handlers below; `isPolling` tells whether Run must wait for polling to stop. The report is
// written on a thread of its own, so a list of any length never holds up the window; Run waits
// until it is written, as the list must not change under it. Whether runs search scripts too is
// kept in the settings.
class CSpiderPage : public CPropertyPage {
    Q_OBJECT

public:
    CSpiderPage(CSettingsStore& settings, ISpiderSink& sink, CDetectScript& detector,
                IRouterTarget& router, CDesktop& desktop, std::function<bool()> isPolling,
                SpiderSettings spider = {});
    ~CSpiderPage() override;  // stops the report being written, removes the report file

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
    bool IsWritingReport() const { return m_reportWriter.IsBusy(); }
    // The report file, made at the first "View parsed pages"; empty until then.
    const QString& ReportFile() const { return m_strReportFile; }
    const CParsedPageList& ParsedPages() const { return m_run.ParsedPages(); }
    // Abandons a run in progress and waits for the worker.
    void StopWorker() { m_run.Shutdown(); }
    // The gateway asked when a run identifies no page; tests put in their own.
    void SetGateway(IGateway& gateway) { m_gatewayCheck.SetGateway(gateway); }
    // The user's list of detection servers gives none, for `why`: Run says so instead of running.
    void RefuseDetection(const QString& file, const QString& why);

Q_SIGNALS:
    void pathChosen(const QString& path);
    // A double click in the list: bring the Polling tab forward and press its Poll button.
    void pollingToggleRequested();
    // The button of the box that explains the router's WAN side: bring the Polling tab forward,
    // set to poll the router's own answer.
    void routerPollingRequested();
    void runningChanged(bool bRunning);

private:
    // After a failed run, when searching scripts may help.
    void OfferDeeperSearch();
    // After a run that met a key it would not use: a changed one is refused, loudly; of a new
    // one the user is asked, and a trusted one remembered. True when the run should be made
    // again, with the key now known.
    bool AskAboutKey(const KeyRefusal& refusal);
    void FocusAfterRun();
    void OnReportWritten(bool bWritten);
    void SetWritingReport(bool bWriting);

    CSettingsStore& m_settings;
    IRouterTarget& m_router;
    CDesktop& m_desktop;
    std::function<bool()> m_isPolling;
    bool m_bRunning = false;
    bool m_bRunAllowed = true;  // by the Polling tab
    int m_nParsedPages = 0;
    CUrlListCtrl m_listPages;
    QPushButton m_btnRun;
    CAddressDisplay m_displayAddress;
    CHyperLink m_linkReport;
    QLabel m_staticCount;
    QCheckBox m_chkDeep;
    QString m_strReportFile;
    CFoundPages m_found;
    CPageWanNote m_wanNote;  // written by the worker during a run
    CGatewayCheck m_gatewayCheck;
    bool m_bOfferDeeper = false;  // unless the gateway's answer explains the failed run
    bool m_bFollowUpDue = false;  // a box after the outcome's, once the gateway has answered
    SpiderSettings m_spider;  // what each run starts from; Run adds the router and the deep flag
    QString m_strUnusableServers;  // the box Run shows instead, and its note
    QString m_strUnusableWhy;
    CSpiderRun m_run;
    CWorker m_reportWriter;  // reads the run's parsed pages, so it goes first
};
