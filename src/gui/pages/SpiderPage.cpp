#include "gui/pages/SpiderPage.h"

#include <QDir>
#include <QGridLayout>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <system_error>
#include <utility>

#include "core/address/AddressScan.h"
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
    // explains it, else the deeper search when it may help.
    connect(&m_gatewayCheck, &CGatewayCheck::answered, this, [this](const QString& diagnosis) {
        if (const bool bOfferDeeper = std::exchange(m_bOfferDeeper, false); !diagnosis.isEmpty()) {
            m_desktop.ShowMessage(this, diagnosis, MessageIcon::Information);
        } else if (bOfferDeeper) {
            OfferDeeperSearch();
        }
    });
}

CSpiderPage::~CSpiderPage() {
    m_bStopReport.store(true);
    if (m_reportWriter.joinable()) {
        m_reportWriter.join();
    }
    m_run.Shutdown();
    if (!m_strReportFile.isEmpty()) {
        QFile::remove(m_strReportFile);
    }
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
    m_btnRun.setEnabled(m_bRunAllowed && !m_bWritingReport);
}

void CSpiderPage::SetPollingPath(const QString& path) {
    Q_EMIT pathChosen(path);
}

void CSpiderPage::OnRun() {
    if (m_bWritingReport) {
        return;  // a new run would empty the list the report is being written from
    }
    if (m_bRunning) {
        m_run.Cancel();
        return;
    }
    if (!m_router.ValidateAndSave()) {
        return;
    }
    m_settings.WriteProfileInt(kSection, kSearchScripts, m_chkDeep.isChecked() ? 1 : 0);
    m_displayAddress.SetAddress(0);
    SpiderSettings run = m_spider;
    run.router = RouterAccessFor(m_router.LoginBytes(), m_router.PasswordBytes(),
                                 m_router.Address(), m_router.Port());
    run.bDeep = m_chkDeep.isChecked();
    m_run.Prepare(std::move(run));
    m_listPages.DeleteAllItems();
    m_found.Clear();
    m_nParsedPages = 0;
    m_staticCount.setText(QStringLiteral("0"));
    m_gatewayCheck.Abandon();
    m_bOfferDeeper = false;
    m_wanNote.Clear(m_router.Address());
    if (!m_run.Start()) {
        return;
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
    const int outcome = m_run.Outcome(address, m_found.Size());
    const long start = m_run.StartStatus();
    const bool bLoginRefused = outcome == IDS_NO_STATUS_PAGE && IsLoginRefused(start);
    m_desktop.ShowMessage(
        this, LoadText(outcome),
        outcome == IDS_STATUS_PAGE_FOUND ? MessageIcon::Information : MessageIcon::Exclamation,
        bLoginRefused ? QStringLiteral("The router refused the login (HTTP %1): check the login "
                                       "and the password on the Router tab.")
                            .arg(start)
                      : QString());
    m_router.EnableControls(true);
    if (outcome == IDS_NO_STATUS_PAGE) {
        // Pages were read, so searching their scripts may reach what their links do not; unless
        // the login was refused or a page showed a shared or private WAN address, which no page
        // can get past. The gateway may tell of such an address too, so the offer waits for it.
        m_bOfferDeeper = !m_run.Settings().bDeep && m_nParsedPages > 0 &&
                         m_wanNote.Address() == 0 && !bLoginRefused;
        if (!m_gatewayCheck.Start(m_run.Settings().router.nAddress, address, m_wanNote.Address()) &&
            std::exchange(m_bOfferDeeper, false)) {
            OfferDeeperSearch();
        }
    }
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
    if (m_bWritingReport || m_bRunning) {
        return;
    }
    if (m_strReportFile.isEmpty()) {
        m_strReportFile = ReserveReportFile();
        if (m_strReportFile.isEmpty()) {
            m_desktop.Beep();
            return;
        }
    }
    if (m_reportWriter.joinable()) {
        m_reportWriter.join();  // the last report's thread, which has ended
    }
    m_bStopReport.store(false);
    try {
        // Written anew beside the file and renamed over it: the file stays ours and private, and
        // a link planted in its place is replaced, not followed.
        m_reportWriter =
            std::thread([this, path = QFile::encodeName(m_strReportFile).toStdString()] {
                std::string error;
                const bool bWritten =
                    WriteParsedPagesReport(path, m_run.ParsedPages(), 0600, error, &m_bStopReport);
                // The page joins this thread before it goes; a result still queued then goes
                // with the page instead of reaching a closed window.
                QMetaObject::invokeMethod(
                    this, [this, bWritten] { OnReportWritten(bWritten); }, Qt::QueuedConnection);
            });
    } catch (const std::system_error&) {
        m_desktop.Beep();
        return;
    }
    SetWritingReport(true);
}

void CSpiderPage::OnReportWritten(bool bWritten) {
    if (m_reportWriter.joinable()) {
        m_reportWriter.join();
    }
    SetWritingReport(false);
    if (!bWritten) {
        m_desktop.Beep();
        return;
    }
    m_desktop.Open(m_strReportFile);
}

void CSpiderPage::SetWritingReport(bool bWriting) {
    m_bWritingReport = bWriting;
    m_linkReport.setEnabled(!bWriting);
    EnableRun(m_bRunAllowed);
}
