#include "gui/pages/PollingPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include <ctime>

#include "core/address/AddressProbe.h"
#include "core/address/Exclusions.h"
#include "core/net/RouterUrl.h"
#include "core/polling/PollLine.h"
#include "core/text/StringTable.h"
#include "gui/app/TestSheet.h"
#include "gui/app/VelmoApp.h"
#include "gui/desktop/Desktop.h"

namespace {

const QString kSection = QStringLiteral("Polling");
std::chrono::milliseconds g_pollInterval{60000};

QString Normalized(const QString& exclusions) {
    std::string text = exclusions.toStdString();
    NormalizeExclusions(text);
    return QString::fromStdString(text);
}

}  // namespace

void CPollingPage::SetPollInterval(std::chrono::milliseconds interval) {
    g_pollInterval = interval;
}

CPollingPage::CPollingPage(CTestSheet& sheet)
    : CPropertyPage(sheet, QStringLiteral("Polling")),
      m_btnPoll(LoadText(IDS_POLL)),
      m_btnOpen(QStringLiteral("&Open...")) {
    if (const CVelmoApp* app = TheApp()) {
        m_strPath = app->GetProfileString(kSection, QStringLiteral("Path"));
        m_strExcludes = Normalized(app->GetProfileString(kSection, QStringLiteral("Excludes")));
    }
    m_editPath.setObjectName(QStringLiteral("pathEdit"));
    m_editLog.setObjectName(QStringLiteral("logEdit"));
    m_editLog.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editLog.setTabChangesFocus(true);
    m_btnPoll.setObjectName(QStringLiteral("pollButton"));
    m_btnPoll.setEnabled(false);
    m_editExcludes.setObjectName(QStringLiteral("excludesEdit"));
    m_btnOpen.setObjectName(QStringLiteral("openButton"));
    m_btnOpen.setEnabled(false);

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
    grid->setRowStretch(5, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addWidget(new QLabel(
        QStringLiteral("Click the Poll button to start the address polling test."), this));

    setTabOrder(&m_editPath, &m_btnOpen);
    setTabOrder(&m_btnOpen, &m_editExcludes);
    setTabOrder(&m_editExcludes, &m_editLog);
    setTabOrder(&m_editLog, &m_btnPoll);

    connect(&m_btnPoll, &QPushButton::clicked, this, &CPollingPage::TogglePolling);
    connect(&m_btnOpen, &QPushButton::clicked, this, &CPollingPage::OnOpen);
    connect(&m_editPath, &QLineEdit::textChanged, this, &CPollingPage::OnChangePath);
    connect(&m_timer, &QTimer::timeout, this, &CPollingPage::OnTimer);
}

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
    m_btnPoll.setEnabled(!Sheet().StatusPage().IsRunning() && !m_editPath.text().isEmpty());
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

bool CPollingPage::ApplyPollingSettings() {
    UpdateData(true);
    if (m_strPath.isEmpty()) {
        Sheet().SetActivePage(this);
        ShowMessageBox(LoadText(IDS_INVALID_PATH), MessageIcon::Exclamation);
        m_editPath.setFocus();
        return false;
    }
    m_strExcludes = Normalized(m_strExcludes);
    if (CVelmoApp* app = TheApp()) {
        app->WriteProfileString(kSection, QStringLiteral("Path"), m_strPath);
        app->WriteProfileString(kSection, QStringLiteral("Excludes"), m_strExcludes);
    }
    UpdateData(false);
    return true;
}

void CPollingPage::TogglePolling() {
    CRouterPage& router = Sheet().RouterPage();
    if (m_bPolling == 0) {
        if (!router.ValidateAndSave() || !ApplyPollingSettings()) {
            return;
        }
        if (!ComposeUrl()) {
            return;
        }
        m_bPolling = 1;
        router.EnableControls(false);
        SetPollingState(true);
    } else {
        m_bPolling = 0;
        router.EnableControls(true);
        SetPollingState(false);
    }
}

void CPollingPage::SetPollingState(bool bPolling) {
    if (bPolling) {
        m_editLog.clear();
        m_timer.start(g_pollInterval);
        m_btnPoll.setText(LoadText(IDS_STOP));
    } else {
        m_timer.stop();
        m_btnPoll.setText(LoadText(IDS_POLL));
    }
    m_editPath.setEnabled(!bPolling);
    m_editExcludes.setEnabled(!bPolling);
    m_editLog.setEnabled(!bPolling);
}

void CPollingPage::OnTimer() {
    const std::time_t now = std::time(nullptr);
    std::string result = "n/a";
    const CRouterPage& router = Sheet().RouterPage();
    ProbeAddress(m_strUrl.toStdString(), router.Login().toStdString(),
                 router.Password().toStdString(), false, m_strExcludes.toStdString(), result);
    // The line ends as a paragraph of the log; appending keeps a tick's cost independent of how
    // long polling has run.
    QTextCursor cursor = m_editLog.textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromLocal8Bit(FormatPollLine(now, result)) + '\n');
    m_editLog.verticalScrollBar()->setValue(m_editLog.verticalScrollBar()->maximum());
}

bool CPollingPage::ComposeUrl() {
    const CRouterPage& router = Sheet().RouterPage();
    std::string url;
    if (!ComposeRouterUrl(router.Address(), static_cast<std::uint16_t>(router.Port() & 0xFFFF),
                          m_strPath.toStdString(), url)) {
        return false;
    }
    m_strUrl = QString::fromStdString(url);
    return true;
}

void CPollingPage::OnOpen() {
    CRouterPage& router = Sheet().RouterPage();
    if (!router.ValidateAndSave() || !ApplyPollingSettings()) {
        return;
    }
    if (ComposeUrl()) {
        ShellOpen(m_strUrl);
    }
}
