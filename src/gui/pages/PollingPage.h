#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "core/gateway/Gateway.h"
#include "core/login/RouterSession.h"
#include "core/net/HttpFetch.h"
#include "gui/pages/PropertyPage.h"
#include "gui/pages/RouterTarget.h"
#include "gui/pages/Worker.h"
#include "gui/settings/Autostart.h"

class CDesktop;
class CSettingsStore;
struct PollReading;

// How often the Polling tab reads its page and how each read gives up, at the latest when half
// the interval has passed; and the bounds of each question to the router itself, those of
// velmo-cli poll --gateway. The program polls every minute; tests shorten it.
struct PollingSettings {
    std::chrono::milliseconds interval{60000};
    HttpTimeouts timeouts;
    GatewayLimits gateway;
};

// The Polling tab: reads one router page once a minute and logs, with the local time, the first
// acceptable address it shows, or "n/a" and why. Or, as chosen on the tab and kept in the
// settings, asks the router itself (UPnP IGD, then NAT-PMP) for its WAN address instead, and shows
// which gateway answered. Each read runs on a thread of its own, so a router that stalls never
// holds up the window; Stop and closing abandon the read in flight.
class CPollingPage : public CPropertyPage {
    Q_OBJECT

public:
    // `isSpiderRunning` tells whether Poll must wait for a spider run to end.
    CPollingPage(CSettingsStore& settings, IRouterTarget& router, CDesktop& desktop,
                 std::function<bool()> isSpiderRunning, PollingSettings polling = {});
    ~CPollingPage() override;

    bool OnSetActive() override;

    bool ApplyPollingSettings();
    void TogglePolling();
    void SetPollingState(bool bPolling);
    void OnTimer();
    void OnChangePath();
    void OnOpen();
    // Poll follows the spider at once: unavailable while a run goes on.
    void OnSpiderRunChanged(bool bRunning);

    // The router's own answer rather than the page: the choice on the tab, not yet saved. While
    // polling it stays as polling started.
    bool AsksRouter() const { return m_radioRouter.isChecked(); }
    void SetAsksRouter(bool bRouter);
    void FocusPoll() { m_btnPoll.setFocus(Qt::OtherFocusReason); }
    // Tests put in a gateway of their own; it must outlive the page.
    void SetGateway(IGateway& gateway) { m_pGateway = &gateway; }

    bool IsPolling() const { return m_bPolling; }
    // While polling: whether it asks the router itself.
    bool PollsRouter() const { return m_bPollsRouter; }
    bool IsReading() const { return m_reader.IsBusy(); }
    const QString& Path() const { return m_strPath; }
    // A page handed over from the Status tab: the page is what is to be polled, unless polling
    // runs, which keeps what it reads until it stops.
    void SetPath(const QString& path);
    bool StartsAtLogin() const { return m_chkStartAtLogin.isChecked(); }

Q_SIGNALS:
    void pollingChanged(bool bPolling);
    // Each read as it is logged: the address text or "n/a", when the read started and, for "n/a",
    // why: "The router does not answer (timed out)", "The router refused the login (HTTP 401)",
    // "The router answers HTTP 404", "The router's page shows no address", "The router has no
    // internet address of its own" or "The router gives no answer by UPnP or NAT-PMP".
    void addressRead(const QString& result, qint64 started, const QString& why);
    void startAtLoginChanged(bool bOn);

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    bool ComposeUrl();  // the page URL from the router's address and port and the path
    // Poll is enabled when polling can start with what the tab shows: a path, or the router.
    bool CanPoll() const { return AsksRouter() || !m_editPath.text().isEmpty(); }
    void OnSourceChanged();
    void OnReadDone(std::time_t started, const PollReading& reading, bool bRouter);
    void OnStartAtLoginToggled(bool bOn);

    CSettingsStore& m_settings;
    IRouterTarget& m_router;
    CDesktop& m_desktop;
    std::function<bool()> m_isSpiderRunning;
    PollingSettings m_polling;
    CGateway m_gateway;
    IGateway* m_pGateway = &m_gateway;
    GatewayTarget m_target;       // the router's gateway, set when polling starts
    bool m_bPollsRouter = false;  // the choice polling started with
    QLineEdit m_editPath;
    QPlainTextEdit m_editLog;
    QPushButton m_btnPoll;
    bool m_bPolling = false;
    std::string m_url;
    // The router's cookies, Digest and login from tick to tick, new each time polling starts; a
    // read in flight holds it too.
    std::shared_ptr<CRouterSession> m_session;
    QString m_strPath;
    QLineEdit m_editExcludes;
    QString m_strExcludes;
    QPushButton m_btnOpen;
    QCheckBox m_chkStartAtLogin;
    QGroupBox m_groupSource;
    QRadioButton m_radioPage;
    QRadioButton m_radioRouter;
    QLabel m_staticGateway;  // the gateway that answered last, while the router is chosen
    CAutostart m_autostart;
    QTimer m_timer;
    bool m_bActivatedBefore = false;
    CWorker m_reader;  // the read in flight; Stop and closing abandon it
};
