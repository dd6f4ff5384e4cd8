#include "gui/pages/PollingPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

#include "core/address/AddressProbe.h"
#include "core/address/Exclusions.h"
#include "core/net/RouterUrl.h"
#include "core/polling/PollLine.h"
#include "core/spider/SpiderRules.h"
#include "core/text/StringTable.h"
#include "gui/desktop/Desktop.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

const QString kSection = QStringLiteral("Polling");

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

// Why a read gave no address: a refused login first, since its page may hold anything.
QString ReadFailure(const ProbeFailure& failure) {
    if (IsLoginRefused(failure.status)) {
        return QStringLiteral("The router refused the login (HTTP %1)").arg(failure.status);
    }
    if (failure.status == 0) {
        // "timed out (nothing received for 10000 ms)": the library's detail is for --verbose.
        const std::string why = failure.why.substr(0, failure.why.find(" ("));
        return QStringLiteral("The router does not answer (%1)").arg(FromBytes(why));
    }
    if (failure.status >= 400) {
        return QStringLiteral("The router answers HTTP %1").arg(failure.status);
    }
    return QStringLiteral("The router's page shows no address");
}

// The router is read straight, never through a proxy of the environment.
FetchOptions RouterFetchOptions(const HttpTimeouts& timeouts, const std::atomic<bool>& abort) {
    FetchOptions options{timeouts, CAbortSignal(abort)};
    options.bDirect = true;
    return options;
}

// What one read found: the address text or "n/a", and why not.
struct PollRead {
    std::string result = "n/a";
    bool bFound = false;
    ProbeFailure failure;
};

}  // namespace

CPollingPage::CPollingPage(CSettingsStore& settings, IRouterTarget& router, CDesktop& desktop,
                           std::function<bool()> isSpiderRunning, PollingSettings polling)
    : CPropertyPage(QStringLiteral("Polling")),
      m_settings(settings),
      m_router(router),
      m_desktop(desktop),
      m_isSpiderRunning(std::move(isSpiderRunning)),
      m_polling(polling),
      m_btnPoll(LoadText(IDS_POLL)),
      m_btnOpen(QStringLiteral("&Open...")),
      m_chkStartAtLogin(QStringLiteral("Start &Velmo at login")),
      m_autostart(settings) {
    m_strPath = settings.GetProfileString(kSection, QStringLiteral("Path"));
    m_strExcludes = Normalized(settings.GetProfileString(kSection, QStringLiteral("Excludes")));
    m_editPath.setObjectName(QStringLiteral("pathEdit"));
    m_editLog.setObjectName(QStringLiteral("logEdit"));
    m_editLog.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_editLog.setTabChangesFocus(true);
    m_btnPoll.setObjectName(QStringLiteral("pollButton"));
    m_btnPoll.setEnabled(false);
    m_editExcludes.setObjectName(QStringLiteral("excludesEdit"));
    m_btnOpen.setObjectName(QStringLiteral("openButton"));
    m_btnOpen.setEnabled(false);
    m_chkStartAtLogin.setObjectName(QStringLiteral("startAtLogin"));
    m_chkStartAtLogin.setChecked(m_autostart.IsEnabled());
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
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addWidget(new QLabel(
        QStringLiteral("Click the Poll button to start the address polling test."), this));

    setTabOrder(&m_editPath, &m_btnOpen);
    setTabOrder(&m_btnOpen, &m_editExcludes);
    setTabOrder(&m_editExcludes, &m_editLog);
    setTabOrder(&m_editLog, &m_btnPoll);
    setTabOrder(&m_btnPoll, &m_chkStartAtLogin);

    connect(&m_btnPoll, &QPushButton::clicked, this, &CPollingPage::TogglePolling);
    connect(&m_btnOpen, &QPushButton::clicked, this, &CPollingPage::OnOpen);
    connect(&m_editPath, &QLineEdit::textChanged, this, &CPollingPage::OnChangePath);
    connect(&m_timer, &QTimer::timeout, this, &CPollingPage::OnTimer);
    connect(&m_chkStartAtLogin, &QCheckBox::toggled, this, &CPollingPage::OnStartAtLoginToggled);
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
    m_btnPoll.setEnabled(!(m_isSpiderRunning && m_isSpiderRunning()) &&
                         !m_editPath.text().isEmpty());
    if (m_bActivatedBefore) {
        UpdateData(false);
    }
    m_bActivatedBefore = true;
    return CPropertyPage::OnSetActive();
}

void CPollingPage::OnChangePath() {
    const bool bHasPath = !m_editPath.text().isEmpty();
    m_btnOpen.setEnabled(bHasPath);
    m_btnPoll.setEnabled(bHasPath);
}

void CPollingPage::OnSpiderRunChanged(bool bRunning) {
    if (!IsPolling()) {
        m_btnPoll.setEnabled(!bRunning && !m_editPath.text().isEmpty());
    }
}

bool CPollingPage::ApplyPollingSettings() {
    UpdateData(true);
    if (m_strPath.isEmpty()) {
        Q_EMIT activationRequested();
        m_desktop.ShowMessage(this, LoadText(IDS_INVALID_PATH), MessageIcon::Exclamation);
        m_editPath.setFocus();
        return false;
    }
    m_strExcludes = Normalized(m_strExcludes);
    m_settings.WriteProfileString(kSection, QStringLiteral("Path"), m_strPath);
    m_settings.WriteProfileString(kSection, QStringLiteral("Excludes"), m_strExcludes);
    UpdateData(false);
    return true;
}

void CPollingPage::TogglePolling() {
    if (m_bPolling == 0) {
        if (!m_router.ValidateAndSave() || !ApplyPollingSettings()) {
            return;
        }
        if (!ComposeUrl()) {
            return;
        }
        m_bPolling = 1;
        m_router.EnableControls(false);
        SetPollingState(true);
    } else {
        m_bPolling = 0;
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
    // The log is what polling is for: while it grows it stays legible and scrollable, only not
    // editable.
    m_editLog.setReadOnly(bPolling);
}

void CPollingPage::OnTimer() {
    if (m_reader.IsBusy()) {
        return;  // the read of an earlier tick still runs; one at a time
    }
    const std::time_t now = std::time(nullptr);
    m_reader.Run(
        [url = m_url, login = m_router.LoginBytes(), password = m_router.PasswordBytes(),
         excludes = ToBytes(m_strExcludes),
         timeouts = ReadTimeouts(m_polling)](const std::atomic<bool>& abandoned) {
            PollRead read;
            read.bFound = ProbeAddress(url, login, password, false, excludes, read.result,
                                       RouterFetchOptions(timeouts, abandoned), &read.failure);
            return read;
        },
        [this, now](const PollRead& read) {
            OnReadDone(now, read.result, read.bFound ? QString() : ReadFailure(read.failure));
        });
}

void CPollingPage::OnReadDone(std::time_t started, const std::string& result, const QString& why) {
    QScrollBar* scroll = m_editLog.verticalScrollBar();
    const bool bFollow = scroll->value() == scroll->maximum();
    // The line ends as a paragraph of the log; appending keeps a tick's cost independent of how
    // long polling has run.
    QTextCursor cursor(m_editLog.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromLocal8Bit(FormatPollLine(started, result)) + '\n');
    if (bFollow) {
        scroll->setValue(scroll->maximum());
    }
    Q_EMIT addressRead(FromBytes(result), static_cast<qint64>(started), why);
}

bool CPollingPage::ComposeUrl() {
    std::string url;
    if (!ComposeRouterUrl(m_router.Address(), static_cast<std::uint16_t>(m_router.Port() & 0xFFFF),
                          ToBytes(m_strPath), url)) {
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
