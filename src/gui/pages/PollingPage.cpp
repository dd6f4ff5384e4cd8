#include "gui/pages/PollingPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

#include "core/address/Exclusions.h"
#include "core/net/KnownRouters.h"
#include "core/net/RouterUrl.h"
#include "core/polling/PollLine.h"
#include "core/polling/PollReading.h"
#include "core/spider/SpiderRules.h"
#include "core/text/StringTable.h"
#include "gui/desktop/Desktop.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

const QString kSection = QStringLiteral("Polling");
// What is polled: "page" (the default) or "gateway", the router's own answer.
const QString kSource = QStringLiteral("Source");
const QString kRouterSource = QStringLiteral("gateway");

// A read ends within half the interval, so its line is written before the next tick: a tick that
// found a read still running would have to drop its line. A minute leaves the read the 30 s of
// its three 10 s phases.
HttpTimeouts ReadTimeouts(const PollingSettings& polling) {
    HttpTimeouts timeouts = polling.timeouts;
    timeouts.total =
        std::min(timeouts.total, std::max(std::chrono::milliseconds(1), polling.interval / 2));
    return timeouts;
}

QString Normalized(const QString& exclusions) {
    std::string text = ToBytes(exclusions);
    NormalizeExclusions(text);
    return FromBytes(text);
}

// Why a read gave no address, as a notice says it.
QString ReadFailure(const PollReading& reading, bool bRouter) {
    switch (reading.failure) {
        case PollFailure::None:
            break;
        case PollFailure::LoginRefused:
            return QStringLiteral("The router refused the login (HTTP %1)").arg(reading.status);
        case PollFailure::HttpStatus:
            return QStringLiteral("The router answers HTTP %1").arg(reading.status);
        case PollFailure::NoAnswer:
            if (bRouter) {
                return QStringLiteral("The router gives no answer by UPnP or NAT-PMP");
            }
            return reading.transfer.empty() || reading.transfer == "no answer"
                       ? QStringLiteral("The router does not answer")
                       : QStringLiteral("The router does not answer (%1)")
                             .arg(FromBytes(reading.transfer));
        case PollFailure::NoAddress:
            return QStringLiteral("The router's page shows no address");
        case PollFailure::NoneOfItsOwn:
            return QStringLiteral("The router has no internet address of its own");
    }
    return {};
}

// The router is read straight, never through a proxy of the environment.
FetchOptions RouterFetchOptions(const HttpTimeouts& timeouts, const std::atomic<bool>& abort) {
    FetchOptions options{timeouts, CAbortSignal(abort)};
    options.bDirect = true;
    return options;
}

}  // namespace

CPollingPage::CPollingPage(CSettingsStore& settings, IRouterTarget& router, CDesktop& desktop,
                           std::function<bool()> isSpiderRunning, PollingSettings polling)
    : CPropertyPage(QStringLiteral("Polling")),
      m_settings(settings),
      m_router(router),
      m_desktop(desktop),
      m_isSpiderRunning(std::move(isSpiderRunning)),
      m_polling(polling),
      m_gateway(polling.gateway),
      m_btnPoll(LoadText(IDS_POLL)),
      m_btnOpen(QStringLiteral("&Open...")),
      m_chkStartAtLogin(QStringLiteral("Start &Velmo at login")),
      m_groupSource(QStringLiteral("Address from")),
      m_radioPage(QStringLiteral("the pa&ge")),
      m_radioRouter(QStringLiteral("the &router's own answer (UPnP / NAT-PMP)")),
      m_autostart(settings) {
    m_strPath = settings.GetProfileString(kSection, QStringLiteral("Path"));
    m_strExcludes = Normalized(settings.GetProfileString(kSection, QStringLiteral("Excludes")));
    m_editPath.setObjectName(QStringLiteral("pathEdit"));
    m_editLog.setObjectName(QStringLiteral("logEdit"));
    m_editLog.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_editLog.setTabChangesFocus(true);
    m_btnPoll.setObjectName(QStringLiteral("pollButton"));
    m_btnPoll.setToolTip(QStringLiteral(
        "Each reading keeps the router's session (its cookies, Digest and login form) from the "
        "one before, and logs in again when the session has ended. A refused login is logged "
        "with its reason; after two readings in a row with a refused login, polling tries no "
        "more until it is started again, so that the router does not lock Velmo out."));
    m_btnPoll.setEnabled(false);
    m_editExcludes.setObjectName(QStringLiteral("excludesEdit"));
    m_btnOpen.setObjectName(QStringLiteral("openButton"));
    m_btnOpen.setEnabled(false);
    m_chkStartAtLogin.setObjectName(QStringLiteral("startAtLogin"));
    m_chkStartAtLogin.setChecked(m_autostart.IsEnabled());
    m_groupSource.setObjectName(QStringLiteral("sourceGroup"));
    m_groupSource.setFlat(true);
    m_radioPage.setObjectName(QStringLiteral("pollPage"));
    m_radioRouter.setObjectName(QStringLiteral("pollRouter"));
    (settings.GetProfileString(kSection, kSource) == kRouterSource ? m_radioRouter : m_radioPage)
        .setChecked(true);
    m_staticGateway.setObjectName(QStringLiteral("gatewayFound"));
    // It shows what the router sent, which is no markup of ours.
    m_staticGateway.setTextFormat(Qt::PlainText);
    m_staticGateway.setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_staticGateway.setText(QStringLiteral("Gateway: not asked yet"));
    // Shown or not, it keeps its room: the choice never moves the window's other controls.
    QSizePolicy keep = m_staticGateway.sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_staticGateway.setSizePolicy(keep);
    m_staticGateway.setVisible(AsksRouter());
    m_timer.setObjectName(QStringLiteral("pollTimer"));
    m_timer.setParent(this);

    auto* grid = new QGridLayout;
    grid->addWidget(
        BuddyLabel(QStringLiteral("Path of &status page (e.g. /status.htm) :"), &m_editPath, this),
        0, 0, 1, 2);
    grid->addWidget(&m_editPath, 1, 0);
    grid->addWidget(&m_btnOpen, 1, 1);
    grid->addWidget(
        BuddyLabel(QStringLiteral("&Address(es) to exclude (optional):"), &m_editExcludes, this), 2,
        0, 1, 2);
    grid->addWidget(&m_editExcludes, 3, 0, 1, 2);
    grid->addWidget(BuddyLabel(QStringLiteral("&Log:"), &m_editLog, this), 4, 0, 1, 2);
    grid->addWidget(&m_editLog, 5, 0, 1, 2);
    grid->addWidget(&m_btnPoll, 6, 1);
    grid->addWidget(&m_chkStartAtLogin, 7, 0, 1, 2);
    grid->setRowStretch(5, 1);
    auto* sources = new QHBoxLayout;
    sources->addWidget(&m_radioPage);
    sources->addWidget(&m_radioRouter);
    sources->addStretch();
    auto* source = new QVBoxLayout(&m_groupSource);
    source->addLayout(sources);
    source->addWidget(&m_staticGateway);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addWidget(&m_groupSource);
    layout->addWidget(new QLabel(
        QStringLiteral("Click the Poll button to start the address polling test."), this));

    setTabOrder(&m_editPath, &m_btnOpen);
    setTabOrder(&m_btnOpen, &m_editExcludes);
    setTabOrder(&m_editExcludes, &m_editLog);
    setTabOrder(&m_editLog, &m_btnPoll);
    setTabOrder(&m_btnPoll, &m_chkStartAtLogin);
    setTabOrder(&m_chkStartAtLogin, &m_radioPage);
    setTabOrder(&m_radioPage, &m_radioRouter);

    connect(&m_btnPoll, &QPushButton::clicked, this, &CPollingPage::TogglePolling);
    connect(&m_btnOpen, &QPushButton::clicked, this, &CPollingPage::OnOpen);
    connect(&m_editPath, &QLineEdit::textChanged, this, &CPollingPage::OnChangePath);
    connect(&m_timer, &QTimer::timeout, this, &CPollingPage::OnTimer);
    connect(&m_chkStartAtLogin, &QCheckBox::toggled, this, &CPollingPage::OnStartAtLoginToggled);
    connect(&m_radioRouter, &QRadioButton::toggled, this, &CPollingPage::OnSourceChanged);
}

CPollingPage::~CPollingPage() = default;

bool CPollingPage::DoDataExchange(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        m_strPath = m_editPath.text();
        m_strExcludes = m_editExcludes.text();
    } else {
        // A box already showing its text is left alone.
        if (m_editPath.text() != m_strPath) {
            m_editPath.setText(m_strPath);
        }
        if (m_editExcludes.text() != m_strExcludes) {
            m_editExcludes.setText(m_strExcludes);
        }
    }
    return true;
}

bool CPollingPage::OnSetActive() {
    if (!m_strPath.isEmpty()) {
        m_editPath.setText(m_strPath);
        OnChangePath();
    }
    m_btnPoll.setEnabled(!(m_isSpiderRunning && m_isSpiderRunning()) && CanPoll());
    if (m_bActivatedBefore) {
        UpdateData(false);
    }
    m_bActivatedBefore = true;
    return CPropertyPage::OnSetActive();
}

void CPollingPage::OnChangePath() {
    m_btnOpen.setEnabled(!m_editPath.text().isEmpty());
    m_btnPoll.setEnabled(CanPoll());
}

void CPollingPage::OnSpiderRunChanged(bool bRunning) {
    if (!IsPolling()) {
        m_btnPoll.setEnabled(!bRunning && CanPoll());
    }
}

void CPollingPage::SetPath(const QString& path) {
    m_strPath = path;
    if (!IsPolling()) {
        SetAsksRouter(false);
    }
}

void CPollingPage::SetAsksRouter(bool bRouter) {
    if (IsPolling()) {
        return;  // the choice shown is the one polling goes on with
    }
    (bRouter ? m_radioRouter : m_radioPage).setChecked(true);
}

void CPollingPage::OnSourceChanged() {
    m_staticGateway.setVisible(AsksRouter());
    if (!IsPolling()) {
        m_btnPoll.setEnabled(!(m_isSpiderRunning && m_isSpiderRunning()) && CanPoll());
    }
}

bool CPollingPage::ApplyPollingSettings() {
    UpdateData(true);
    // The router's own answer needs no page.
    if (m_strPath.isEmpty() && !AsksRouter()) {
        Q_EMIT activationRequested();
        m_desktop.ShowMessage(this, LoadText(IDS_INVALID_PATH), MessageIcon::Exclamation);
        m_editPath.setFocus();
        return false;
    }
    m_strExcludes = Normalized(m_strExcludes);
    m_settings.WriteProfileString(kSection, QStringLiteral("Path"), m_strPath);
    m_settings.WriteProfileString(kSection, QStringLiteral("Excludes"), m_strExcludes);
    m_settings.WriteProfileString(kSection, kSource,
                                  AsksRouter() ? kRouterSource : QStringLiteral("page"));
    UpdateData(false);
    return true;
}

void CPollingPage::TogglePolling() {
    if (!m_bPolling) {
        if (!m_router.ValidateAndSave() || !ApplyPollingSettings()) {
            return;
        }
        m_bPollsRouter = AsksRouter();
        if (m_bPollsRouter) {
            // Only the router's own word counts: the search answer of another device is not it.
            m_target = GatewayTargetOfRouter(m_router.Address());
        } else if (!ComposeUrl()) {
            return;
        } else {
            RouterAccess access = RouterAccessFor(m_router.LoginBytes(), m_router.PasswordBytes(),
                                                  m_router.Address(), m_router.Port());
            access.bHttps = m_router.Https();
            m_session = std::make_shared<CRouterSession>(std::move(access));
        }
        m_bPolling = true;
        m_router.EnableControls(false);
        SetPollingState(true);
    } else {
        m_bPolling = false;
        m_router.EnableControls(true);
        SetPollingState(false);
    }
    Q_EMIT pollingChanged(IsPolling());
}

void CPollingPage::SetPollingState(bool bPolling) {
    if (bPolling) {
        m_editLog.clear();
        m_timer.start(m_polling.interval);
        m_btnPoll.setText(LoadText(IDS_STOP));
    } else {
        m_timer.stop();
        m_reader.Abandon();
        m_btnPoll.setText(LoadText(IDS_POLL));
    }
    m_editPath.setEnabled(!bPolling);
    m_editExcludes.setEnabled(!bPolling);
    m_radioPage.setEnabled(!bPolling);
    m_radioRouter.setEnabled(!bPolling);
    // The log is what polling is for: while it grows it stays legible and scrollable, only not
    // editable.
    m_editLog.setReadOnly(bPolling);
}

void CPollingPage::OnTimer() {
    if (m_reader.IsBusy()) {
        return;  // the read of an earlier tick still runs; one at a time
    }
    const std::time_t now = std::time(nullptr);
    const bool bRouter = m_bPollsRouter;
    const auto done = [this, now, bRouter](const PollReading& reading) {
        OnReadDone(now, reading, bRouter);
    };
    if (bRouter) {
        m_reader.Run(
            [gateway = m_pGateway, target = m_target](const std::atomic<bool>& abandoned) {
                return ReadRouterAnswer(*gateway, target, abandoned);
            },
            done);
        return;
    }
    m_reader.Run(
        [url = m_url, session = m_session, excludes = ToBytes(m_strExcludes),
         timeouts = ReadTimeouts(m_polling),
         address = m_router.Address()](const std::atomic<bool>& abandoned) {
            // Over https only the key the Status tab's run trusted is used; never a new one.
            CRouterTrust trust(KnownRoutersFilePath(), address, false);
            FetchOptions options = RouterFetchOptions(timeouts, abandoned);
            options.trust = &trust;
            return ReadPolledPage(*session, url, excludes, options);
        },
        done);
}

void CPollingPage::OnReadDone(std::time_t started, const PollReading& reading, bool bRouter) {
    if (bRouter) {
        m_staticGateway.setText(QStringLiteral("Gateway: %1")
                                    .arg(reading.gateway.empty() ? QStringLiteral("none answered")
                                                                 : FromBytes(reading.gateway)));
    }
    QScrollBar* scroll = m_editLog.verticalScrollBar();
    const bool bFollow = scroll->value() == scroll->maximum();
    // The line ends as a paragraph of the log; appending keeps a tick's cost independent of how
    // long polling has run.
    QTextCursor cursor(m_editLog.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(
        QString::fromLocal8Bit(FormatPollLine(started, reading.result, reading.reason)) + '\n');
    if (bFollow) {
        scroll->setValue(scroll->maximum());
    }
    Q_EMIT addressRead(FromBytes(reading.result), static_cast<qint64>(started),
                       ReadFailure(reading, bRouter));
}

bool CPollingPage::ComposeUrl() {
    std::string url;
    if (!ComposeRouterUrl(m_router.Address(), static_cast<std::uint16_t>(m_router.Port() & 0xFFFF),
                          ToBytes(m_strPath), url, m_router.Https())) {
        return false;
    }
    m_url = std::move(url);
    return true;
}

void CPollingPage::OnStartAtLoginToggled(bool bOn) {
    QString why;
    if (!(bOn ? m_autostart.Enable(&why) : m_autostart.Disable(&why))) {
        const QSignalBlocker quiet(m_chkStartAtLogin);
        m_chkStartAtLogin.setChecked(m_autostart.IsEnabled());
        m_desktop.ShowMessage(this, why, MessageIcon::Exclamation);
        return;
    }
    Q_EMIT startAtLoginChanged(bOn);
}

void CPollingPage::OnOpen() {
    if (!m_router.ValidateAndSave() || !ApplyPollingSettings()) {
        return;
    }
    if (ComposeUrl()) {
        // Escaped, the URL is ASCII and names the same bytes whatever the desktop's encoding.
        m_desktop.Open(FromBytes(EscapeRequestUrl(m_url)));
    }
}
