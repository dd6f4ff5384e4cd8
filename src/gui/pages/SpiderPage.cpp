#include "gui/pages/SpiderPage.h"

#include <QDir>
#include <QGridLayout>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <utility>

#include "core/address/AddressScan.h"
#include "core/net/InetAddr.h"
#include "core/net/KnownRouters.h"
#include "core/report/ReportFile.h"
#include "core/text/StringTable.h"
#include "gui/desktop/Desktop.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

// Read by this page alone.
const QString kSection = QStringLiteral("Status");
const QString kSearchScripts = QStringLiteral("SearchScripts");

// A new file of our own in the temporary folder, created exclusively with mode 0600.
QString ReserveReportFile() {
    QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/velXXXXXX.htm"));
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return QFile::decodeName(name);
}

SpiderSettings NotingWanAddresses(SpiderSettings settings, CPageWanNote& note) {
    settings.pageText = [&note](std::string_view text) { note.Look(text); };
    return settings;
}

}  // namespace

CSpiderPage::CSpiderPage(CSettingsStore& settings, ISpiderSink& sink, CDetectScript& detector,
                         IRouterTarget& router, CDesktop& desktop, std::function<bool()> isPolling,
                         SpiderSettings spider)
    : CPropertyPage(QStringLiteral("Status")),
      m_settings(settings),
      m_router(router),
      m_desktop(desktop),
      m_isPolling(std::move(isPolling)),
      m_btnRun(LoadText(IDS_RUN)),
      m_linkReport(QStringLiteral("View parsed pages"), desktop),
      m_staticCount(QStringLiteral("0")),
      m_chkDeep(QStringLiteral("Search &scripts too")),
      m_gatewayCheck(this),
      m_spider(NotingWanAddresses(std::move(spider), m_wanNote)),
      m_run(sink, detector) {
    m_listPages.setObjectName(QStringLiteral("pageList"));
    m_btnRun.setObjectName(QStringLiteral("runButton"));
    m_btnRun.setToolTip(QStringLiteral(
        "The router is asked with the login and password of the Router tab. A router that asks "
        "for Digest is answered so, and then never sent the password any other way; a login form "
        "it shows instead of a page is filled in and sent, and its session kept for the run. "
        "Settings forms are never sent. After two refused logins no more are tried, so that the "
        "router does not lock Velmo out."));
    m_displayAddress.setObjectName(QStringLiteral("detectedAddress"));
    SizeInDialogUnits(&m_displayAddress, 100);
    m_linkReport.setObjectName(QStringLiteral("reportLink"));
    m_staticCount.setObjectName(QStringLiteral("parsedCount"));
    m_chkDeep.setObjectName(QStringLiteral("deepCheck"));
    m_chkDeep.setChecked(settings.GetProfileInt(kSection, kSearchScripts, 0) != 0);

    auto* grid = new QGridLayout;
    grid->addWidget(BuddyLabel(QStringLiteral("&Detected IP address:"), &m_displayAddress, this), 0,
                    0, 1, 3);
    grid->addWidget(&m_displayAddress, 1, 0, 1, 2);
    grid->addWidget(&m_btnRun, 1, 3, Qt::AlignRight);
    grid->addWidget(BuddyLabel(QStringLiteral("&Parsed pages:"), &m_listPages, this), 2, 0);
    grid->addWidget(&m_staticCount, 2, 1);
    grid->addWidget(&m_linkReport, 2, 3, Qt::AlignRight | Qt::AlignVCenter);
    grid->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(&m_listPages, 1);
    layout->addWidget(&m_chkDeep);
    layout->addWidget(new QLabel(
        QStringLiteral("Click Run to start the status page identification (spider) test."), this));
    layout->addWidget(new QLabel(
        QStringLiteral("TCP ports 7777 and 8245 must be opened in your firewall."), this));

    setTabOrder(&m_displayAddress, &m_btnRun);
    setTabOrder(&m_btnRun, &m_linkReport);
    setTabOrder(&m_linkReport, &m_listPages);
    setTabOrder(&m_listPages, &m_chkDeep);

    connect(&m_btnRun, &QPushButton::clicked, this, &CSpiderPage::OnRun);
    connect(&m_listPages, &CUrlListCtrl::itemActivated, this, &CSpiderPage::OnItemActivate);
    connect(&m_listPages, &CUrlListCtrl::listClicked, this, &CSpiderPage::OnListClick);
    connect(&m_listPages, &CUrlListCtrl::listDoubleClicked, this, &CSpiderPage::OnListDblClick);
    connect(&m_linkReport, &CHyperLink::clicked, this, &CSpiderPage::OnViewParsedPages);
    // A second box after "Unable to identify the status page": why, when the router's WAN side
    // explains it. A router that tells a public address itself can be polled for it: the box
    // offers that, and says so when nothing else is to be said. Else the deeper search, when it
    // may help.
    connect(&m_gatewayCheck, &CGatewayCheck::answered, this,
            [this](QString diagnosis, quint32 publicAddress) {
                const bool bOfferDeeper = std::exchange(m_bOfferDeeper, false);
                // Quit while the outcome's box was up leaves nothing more to say.
                if (!std::exchange(m_bFollowUpDue, false) || !window()->isVisible()) {
                    return;
                }
                if (diagnosis.isEmpty() && publicAddress != 0) {
                    diagnosis = QStringLiteral(
                                    "Your router tells its internet address %1 itself (UPnP / "
                                    "NAT-PMP), though none of its pages showed it: Velmo can "
                                    "poll the router's own answer instead of a page.")
                                    .arg(QString::fromStdString(DottedAddress(publicAddress)));
                }
                if (diagnosis.isEmpty()) {
                    if (bOfferDeeper) {
                        OfferDeeperSearch();
                    }
                } else if (publicAddress == 0) {
                    m_desktop.ShowMessage(this, diagnosis, MessageIcon::Information);
                } else if (m_desktop.ShowChoice(this, diagnosis, MessageIcon::Information,
                                                QStringLiteral("&Poll the router's own answer"))) {
                    Q_EMIT routerPollingRequested();
                    return;
                }
                FocusAfterRun();
            });
}

CSpiderPage::~CSpiderPage() {
    m_reportWriter.Abandon();  // before the file goes: it would rename its own over it
    m_run.Shutdown();
    if (!m_strReportFile.isEmpty()) {
        QFile::remove(m_strReportFile);
    }
}

void CSpiderPage::RefuseDetection(const QString& file, const QString& why) {
    m_strUnusableServers = LoadText(IDS_UNUSABLE_SERVERS).replace(QStringLiteral("%s"), file);
    m_strUnusableWhy = why.isEmpty() ? why : why.front().toUpper() + why.mid(1) + '.';
}

bool CSpiderPage::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    m_listPages.InitList();
    m_linkReport.SetTarget(QString());  // activation only tells this page
    return true;
}

bool CSpiderPage::OnSetActive() {
    EnableRun(!(m_isPolling && m_isPolling()));
    return CPropertyPage::OnSetActive();
}

void CSpiderPage::EnableRun(bool bEnable) {
    m_bRunAllowed = bEnable;
    m_btnRun.setEnabled(m_bRunAllowed && !IsWritingReport());
}

void CSpiderPage::SetPollingPath(const QString& path) {
    Q_EMIT pathChosen(path);
}

void CSpiderPage::OnRun() {
    if (IsWritingReport()) {
        return;  // a new run would empty the list the report is being written from
    }
    if (m_bRunning) {
        m_run.Cancel();
        return;
    }
    if (!m_router.ValidateAndSave()) {
        return;
    }
    if (!m_strUnusableServers.isEmpty() && m_spider.strExternalAddress.empty()) {
        m_desktop.ShowMessage(this, m_strUnusableServers, MessageIcon::Exclamation,
                              m_strUnusableWhy);
        return;
    }
    m_settings.WriteProfileInt(kSection, kSearchScripts, m_chkDeep.isChecked() ? 1 : 0);
    m_displayAddress.SetAddress(0);
    SpiderSettings run = m_spider;
    run.router = RouterAccessFor(m_router.LoginBytes(), m_router.PasswordBytes(),
                                 m_router.Address(), m_router.Port());
    run.router.bHttps = m_router.Https();
    // A key not known yet is asked about once the run has ended, and the run made again.
    run.router.strKnownRouters = KnownRoutersFilePath();
    run.bDeep = m_chkDeep.isChecked();
    m_run.Prepare(std::move(run));
    m_listPages.DeleteAllItems();
    m_found.Clear();
    m_nParsedPages = 0;
    m_staticCount.setText(QStringLiteral("0"));
    m_gatewayCheck.Abandon();
    m_bOfferDeeper = false;
    m_bFollowUpDue = false;
    m_wanNote.Clear(m_router.Address());
    if (!m_run.Start()) {
        return;
    }
    // Asked while the run goes on, the router's own answer is in by the time the run has ended
    // and found nothing, so whatever follows the outcome's box comes at once.
    m_gatewayCheck.Ask(m_router.Address());
    // The controls a run disables may hold the focus, which would fall to Close: it goes to Run,
    // now Cancel.
    if (QWidget* focus = window()->focusWidget();
        focus == &m_listPages || focus == &m_linkReport || focus == &m_chkDeep) {
        m_btnRun.setFocus(Qt::OtherFocusReason);
    }
    m_btnRun.setText(LoadText(IDS_CANCEL));
    m_bRunning = true;
    Q_EMIT runningChanged(true);
    m_router.EnableControls(false);
    m_listPages.setEnabled(false);
    m_linkReport.setEnabled(false);
    m_chkDeep.setEnabled(false);
}

void CSpiderPage::OnPageParsed() {
    ++m_nParsedPages;
    m_staticCount.setText(QString::number(static_cast<unsigned>(m_nParsedPages)));
}

void CSpiderPage::OnPageFound(const std::string& path) {
    if (m_found.Add(path)) {
        m_listPages.AppendItem(FromBytes(path));
    }
}

void CSpiderPage::OnAddressDetected(const std::string& address) {
    m_displayAddress.SetAddress(ntohl(ClassicInetAddr(address)));
}

void CSpiderPage::OnSpiderDone() {
    m_btnRun.setText(LoadText(IDS_RUN));
    m_bRunning = false;
    Q_EMIT runningChanged(false);
    const std::uint32_t address = m_displayAddress.GetAddress();
    m_listPages.setEnabled(true);
    m_linkReport.setEnabled(true);
    m_chkDeep.setEnabled(true);
    if (!m_run.Reached().refused.shown.pin.empty()) {
        m_router.EnableControls(true);
        if (AskAboutKey(m_run.Reached().refused)) {
            OnRun();
            return;
        }
        FocusAfterRun();
        return;
    }
    const int outcome = m_run.Outcome(address, m_found.Size());
    const long start = m_run.StartStatus();
    // A login form the run could not pass says why; else a 401 or 403 start page.
    const std::string loginFailure = m_run.LoginFailure();
    const bool bLoginRefused =
        outcome == IDS_NO_STATUS_PAGE && (IsLoginRefused(start) || !loginFailure.empty());
    m_desktop.ShowMessage(
        this, LoadText(outcome),
        outcome == IDS_STATUS_PAGE_FOUND ? MessageIcon::Information : MessageIcon::Exclamation,
        bLoginRefused ? QStringLiteral("The router refused the login (%1): check the login "
                                       "and the password on the Router tab.")
                            .arg(loginFailure.empty() ? QStringLiteral("HTTP %1").arg(start)
                                                      : FromBytes(loginFailure))
                      : QString());
    m_router.EnableControls(true);
    if (outcome == IDS_NO_STATUS_PAGE) {
        // A refused login is all there is to say: no page and no gateway gets past it. Else pages
        // were read, so searching their scripts may reach what their links do not; unless a page
        // showed a shared or private WAN address, which no page can get past. The gateway may
        // tell of such an address too, so the offer waits for its answer.
        m_bFollowUpDue = !bLoginRefused;
        m_bOfferDeeper = !m_run.Settings().bDeep && m_nParsedPages > 0 &&
                         m_wanNote.Address() == 0 && !bLoginRefused;
        if (!m_gatewayCheck.Conclude(address, m_wanNote.Address())) {
            m_bFollowUpDue = false;
            if (std::exchange(m_bOfferDeeper, false) && window()->isVisible()) {
                OfferDeeperSearch();
            }
        }
    }
    FocusAfterRun();
}

// After a run the keyboard is where the next step is: on the pages found, else on Run; never on
// Close, which the next Enter would press. A run that ends behind another tab leaves its focus.
void CSpiderPage::FocusAfterRun() {
    if (!isVisible()) {
        return;
    }
    if (m_listPages.GetItemCount() == 0) {
        m_btnRun.setFocus(Qt::OtherFocusReason);
        return;
    }
    // Current, so that Enter hands it over, but not selected: only a choice hands a path over.
    if (!m_listPages.currentIndex().isValid()) {
        m_listPages.selectionModel()->setCurrentIndex(m_listPages.model()->index(0, 0),
                                                      QItemSelectionModel::NoUpdate);
    }
    m_listPages.setFocus(Qt::OtherFocusReason);
}

bool CSpiderPage::AskAboutKey(const KeyRefusal& refusal) {
    const QString router = QStringLiteral("https://") +
                           QString::fromStdString(KnownRouterName(refusal.address, refusal.port));
    const QString file = QString::fromStdString(m_run.Settings().router.strKnownRouters);
    const ServerKey& key = refusal.shown;
    const QString facts =
        QStringLiteral("Subject: %1\nValid: %2 to %3")
            .arg(FromBytes(key.subject), FromBytes(key.notBefore), FromBytes(key.notAfter));
    if (refusal.Changed()) {
        m_desktop.ShowMessage(
            this,
            QStringLiteral("THE CERTIFICATE KEY OF THE ROUTER AT %1 HAS CHANGED. It was not "
                           "trusted, and nothing was sent to it.")
                .arg(router),
            MessageIcon::Exclamation,
            QStringLiteral("Remembered: %1\nShown now: %2\n%3\n\nAnother device may be "
                           "answering in the router's place. If you know why the key changed (the "
                           "router was reset or given a new certificate), remove the line of %4 "
                           "from %5, or run \"velmo-cli trust --forget %1\", then click Run to "
                           "decide on the new key.")
                .arg(FromBytes(refusal.remembered), FromBytes(key.pin), facts,
                     QString::fromStdString(KnownRouterName(refusal.address, refusal.port)), file));
        return false;
    }
    const bool bTrust = m_desktop.ShowQuestion(
        this,
        QStringLiteral("The router at %1 shows a certificate key that is not trusted yet. Nothing "
                       "was sent to it.")
            .arg(router),
        QStringLiteral("Fingerprint: %1\n%2\n\nTrust it only if it is your router's key (its "
                       "web interface or its manual shows it). It is remembered in %3, and a "
                       "router that shows another key later is refused.")
            .arg(FromBytes(key.pin), facts, file),
        QStringLiteral("&Trust"));
    if (!bTrust) {
        return false;
    }
    std::string error;
    if (!RememberRouterKey(m_run.Settings().router.strKnownRouters, refusal.address, refusal.port,
                           key.pin, error)) {
        m_desktop.ShowMessage(this, QStringLiteral("The key could not be remembered."),
                              MessageIcon::Exclamation, FromBytes(error));
        return false;
    }
    return true;
}

void CSpiderPage::OfferDeeperSearch() {
    m_desktop.ShowMessage(this,
                          QStringLiteral("A deeper search may find it: select \"Search scripts "
                                         "too\" and click Run again."),
                          MessageIcon::Information);
}

void CSpiderPage::OnItemActivate(int row) {
    if (row >= 0) {
        SetPollingPath(m_listPages.GetItemText(row));
    }
}

void CSpiderPage::OnListClick() {
    const int row = m_listPages.GetFirstSelected();
    if (row >= 0) {
        SetPollingPath(m_listPages.GetItemText(row));
    }
}

void CSpiderPage::OnListDblClick() {
    OnListClick();
    Q_EMIT pollingToggleRequested();
}

void CSpiderPage::OnViewParsedPages() {
    if (IsWritingReport() || m_bRunning) {
        return;
    }
    if (m_strReportFile.isEmpty()) {
        m_strReportFile = ReserveReportFile();
        if (m_strReportFile.isEmpty()) {
            m_desktop.Beep();
            return;
        }
    }
    // Written anew beside the file and renamed over it: the file stays ours and private, and a
    // link planted in its place is replaced, not followed.
    const bool bStarted = m_reportWriter.Run(
        [this, path = QFile::encodeName(m_strReportFile).toStdString(),
         router = HttpsRouterText(m_run.Settings().router, m_run.Reached())](
            const std::atomic<bool>& abandoned) {
            std::string error;
            return WriteParsedPagesReport(path, m_run.ParsedPages(), 0600, error, &abandoned,
                                          nullptr, router);
        },
        [this](bool bWritten) { OnReportWritten(bWritten); });
    if (!bStarted) {
        m_desktop.Beep();
        return;
    }
    SetWritingReport(true);
}

void CSpiderPage::OnReportWritten(bool bWritten) {
    SetWritingReport(false);
    if (!bWritten) {
        m_desktop.Beep();
        return;
    }
    m_desktop.Open(m_strReportFile);
}

void CSpiderPage::SetWritingReport(bool bWriting) {
    m_linkReport.setEnabled(!bWriting);
    EnableRun(m_bRunAllowed);
}
