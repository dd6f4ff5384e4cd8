#include "gui/app/TestSheet.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QIcon>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/text/StringTable.h"
#include "gui/desktop/Desktop.h"

// The icon lives in the UI library's resources, which a static library must register itself.
static void InitResources() {
    Q_INIT_RESOURCE(velmo);
}

namespace {

// A worker message on its way to the user-interface thread.
class CSpiderEvent : public QEvent {
public:
    CSpiderEvent(SpiderMessage message, std::string text)
        : QEvent(static_cast<QEvent::Type>(message)), m_strText(std::move(text)) {}
    const std::string& Text() const { return m_strText; }

private:
    std::string m_strText;
};

}  // namespace

CTestSheet::CTestSheet(QWidget* parent, SheetEnvironment environment)
    : QDialog(parent),
      m_detector(environment.detectionServers.empty()
                     ? CDetectScript()
                     : CDetectScript(std::move(environment.detectionServers))),
      m_pTabs(new QTabWidget(this)),
      m_pClose(new QPushButton(QStringLiteral("Close"), this)),
      m_routerPage(*this),
      m_statusPage(*this, m_detector, std::move(environment.spider)),
      m_pollingPage(*this),
      m_aboutPage(*this) {
    InitResources();
    setWindowTitle(LoadText(IDS_APP_TITLE));
    setWindowIcon(QIcon(QStringLiteral(":/velmo/velmo.svg")));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    m_pTabs->setObjectName(QStringLiteral("tabs"));
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{
             &m_routerPage, &m_statusPage, &m_pollingPage, &m_aboutPage}) {
        m_pTabs->addTab(page, page->Caption());
    }
    m_pClose->setObjectName(QStringLiteral("close"));
    m_pClose->setDefault(true);
    connect(m_pClose, &QPushButton::clicked, this, &CTestSheet::OnClose);
    connect(m_pTabs, &QTabWidget::currentChanged, this, &CTestSheet::OnTabChanged);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    layout->addLayout(buttons);

    m_routerPage.EnsureInitialized();
    m_routerPage.OnSetActive();
}

CTestSheet::~CTestSheet() {
    // The worker may still be fetching: stop it before anything it reports to goes away. Pages
    // leaving the tab widget must not look like tab switches.
    m_statusPage.StopWorker();
    disconnect(m_pTabs, nullptr, this, nullptr);
}

CPropertyPage* CTestSheet::GetActivePage() const {
    return static_cast<CPropertyPage*>(m_pTabs->widget(m_nActive));
}

bool CTestSheet::SetActivePage(CPropertyPage* page) {
    const int index = m_pTabs->indexOf(page);
    if (index < 0) {
        return false;
    }
    if (index != m_nActive) {
        m_pTabs->setCurrentIndex(index);
    }
    return m_nActive == index;
}

void CTestSheet::OnTabChanged(int index) {
    if (m_bSwitching || index == m_nActive) {
        return;
    }
    if (!GetActivePage()->OnKillActive()) {
        m_bSwitching = true;
        m_pTabs->setCurrentIndex(m_nActive);
        m_bSwitching = false;
        return;
    }
    m_nActive = index;
    auto* page = static_cast<CPropertyPage*>(m_pTabs->widget(index));
    page->EnsureInitialized();
    page->OnSetActive();
}

void CTestSheet::OnClose() {
    if (GetActivePage()->OnKillActive()) {
        accept();
    }
}

void CTestSheet::Post(SpiderMessage message, std::string text) {
    QCoreApplication::postEvent(this, new CSpiderEvent(message, std::move(text)));
}

bool CTestSheet::event(QEvent* event) {
    const int type = event->type();
    if (type < WM_SPIDER_PARSED || type > WM_SPIDER_DONE) {
        return QDialog::event(event);
    }
    const std::string& text = static_cast<CSpiderEvent*>(event)->Text();
    switch (type) {
        case WM_SPIDER_PARSED:
            m_statusPage.OnPageParsed();
            break;
        case WM_SPIDER_FOUND:
            m_statusPage.OnPageFound(QString::fromStdString(text));
            break;
        case WM_SPIDER_ADDRESS:
            m_statusPage.OnAddressDetected(QString::fromStdString(text));
            break;
        default:
            m_statusPage.OnSpiderDone();
            break;
    }
    return true;
}
