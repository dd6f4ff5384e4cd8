#include "gui/app/TestSheet.h"

#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <functional>

#include "core/text/StringTable.h"
#include "gui/desktop/Desktop.h"
#include "gui/text/Bytes.h"

// The icon lives in the UI library's resources, which a static library must register itself.
static void InitResources() {
    Q_INIT_RESOURCE(velmo);
}

static QIcon ProgramIcon() {
    InitResources();
    return QIcon(QStringLiteral(":/velmo/velmo.svg"));
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

using SwitchRequest = std::function<void(int index)>;

// Clicks, arrow keys and the wheel ask for a tab instead of switching to it.
class CGuardedTabBar : public QTabBar {
public:
    explicit CGuardedTabBar(SwitchRequest request) : m_request(std::move(request)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const int index = tabAt(event->position().toPoint());
        if (event->button() == Qt::LeftButton && index >= 0 && index != currentIndex()) {
            m_request(index);
            event->accept();
            return;
        }
        QTabBar::mousePressEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        int index = -1;
        switch (event->key()) {
            case Qt::Key_Left:
            case Qt::Key_Up:
                index = currentIndex() - 1;
                break;
            case Qt::Key_Right:
            case Qt::Key_Down:
                index = currentIndex() + 1;
                break;
            case Qt::Key_Home:
                index = 0;
                break;
            case Qt::Key_End:
                index = count() - 1;
                break;
            default:
                QTabBar::keyPressEvent(event);
                return;
        }
        if (index >= 0 && index < count()) {
            m_request(index);
        }
        event->accept();
    }
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }

private:
    SwitchRequest m_request;
};

class CGuardedTabWidget : public QTabWidget {
public:
    CGuardedTabWidget(const SwitchRequest& request, QWidget* parent) : QTabWidget(parent) {
        setTabBar(new CGuardedTabBar(request));
    }
};

// The first control of `page` that Tab would stop at, or null.
QWidget* FirstTabStop(QWidget* page) {
    for (QWidget* widget = page->nextInFocusChain(); page->isAncestorOf(widget);
         widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() &&
            widget->isVisibleTo(page)) {
            return widget;
        }
    }
    return nullptr;
}

}  // namespace

CTestSheet::CTestSheet(CSettingsStore& settings, SheetEnvironment environment, QWidget* parent)
    : QDialog(parent),
      m_detector(environment.detectionServers.empty()
                     ? CDetectScript()
                     : CDetectScript(std::move(environment.detectionServers))),
      m_desktop(environment.desktop != nullptr ? *environment.desktop : SystemDesktop()),
      m_pTabs(new CGuardedTabWidget([this](int index) { SwitchTo(index); }, this)),
      m_routerPage(settings, m_desktop),
      m_statusPage(
          settings, *this, m_detector, m_routerPage, m_desktop,
          [this] { return m_pollingPage.IsPolling(); }, std::move(environment.spider)),
      m_pollingPage(
          settings, m_routerPage, m_desktop, [this] { return m_statusPage.IsRunning(); },
          environment.polling),
      m_aboutPage(m_desktop),
      m_presence(*this, m_routerPage, m_statusPage, m_pollingPage, settings, ProgramIcon()) {
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
    // Made after the pages, so that Tab goes from the tab bar through the page in front to it.
    m_pClose = new QPushButton(QStringLiteral("Close"), this);
    m_pClose->setObjectName(QStringLiteral("close"));
    m_pClose->setDefault(true);
    connect(m_pClose, &QPushButton::clicked, this, &CTestSheet::OnClose);
    connect(m_pTabs, &QTabWidget::currentChanged, this, &CTestSheet::OnTabChanged);
    // Whichever control has the focus, the Close button included, these keys turn the tabs; they
    // ask the page in front first, as a click on a tab does.
    const auto turn = [this](int step) {
        SwitchTo((m_nActive + step + m_pTabs->count()) % m_pTabs->count());
    };
    for (const QKeyCombination key : {Qt::CTRL | Qt::Key_Tab, Qt::CTRL | Qt::Key_PageDown}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                [turn] { turn(1); });
    }
    for (const QKeyCombination key :
         {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, Qt::CTRL | Qt::Key_PageUp}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                [turn] { turn(-1); });
    }

    connect(&m_routerPage, &CPropertyPage::activationRequested, this,
            [this] { SetActivePage(&m_routerPage); });
    connect(&m_pollingPage, &CPropertyPage::activationRequested, this,
            [this] { SetActivePage(&m_pollingPage); });
    connect(&m_statusPage, &CSpiderPage::pathChosen, &m_pollingPage, &CPollingPage::SetPath);
    connect(&m_statusPage, &CSpiderPage::pollingToggleRequested, this, [this] {
        SetActivePage(&m_pollingPage);
        m_pollingPage.TogglePolling();
    });
    connect(&m_statusPage, &CSpiderPage::routerPollingRequested, this, [this] {
        m_pollingPage.SetAsksRouter(true);
        if (SetActivePage(&m_pollingPage)) {
            m_pollingPage.FocusPoll();  // the next step
        }
    });
    // Starting checks what the Polling tab shows, so it comes forward first, as for a double click
    // on the Status tab.
    connect(&m_presence, &CDesktopPresence::pollingToggleRequested, this, [this] {
        if (m_pollingPage.IsPolling() || SetActivePage(&m_pollingPage)) {
            m_pollingPage.TogglePolling();
        }
    });
    connect(&m_statusPage, &CSpiderPage::runningChanged, &m_pollingPage,
            &CPollingPage::OnSpiderRunChanged);
    connect(&m_pollingPage, &CPollingPage::pollingChanged, &m_statusPage,
            [this](bool bPolling) { m_statusPage.EnableRun(!bPolling); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    layout->addLayout(buttons);

    if (environment.gateway != nullptr) {
        m_statusPage.SetGateway(*environment.gateway);
        m_pollingPage.SetGateway(*environment.gateway);
    }
    m_routerPage.EnsureInitialized();
    m_routerPage.OnSetActive();
    if (QWidget* first = FirstTabStop(&m_routerPage)) {
        first->setFocus();  // the window opens in the first input, as dialogs do
    }
}

CTestSheet::~CTestSheet() {
    // The worker may still be fetching: stop it before anything it reports to goes away. Pages
    // leaving the tab widget must not look like tab switches.
    m_statusPage.StopWorker();
    disconnect(m_pTabs, nullptr, this, nullptr);
}

CPropertyPage* CTestSheet::PageAt(int index) const {
    return static_cast<CPropertyPage*>(m_pTabs->widget(index));
}

CPropertyPage* CTestSheet::GetActivePage() const {
    return PageAt(m_nActive);
}

bool CTestSheet::SetActivePage(CPropertyPage* page) {
    const int index = m_pTabs->indexOf(page);
    return index >= 0 && SwitchTo(index);
}

void CTestSheet::InitializePage(CPropertyPage* page) {
    if (!page->IsInitialized()) {
        // Laid out at the size it will show at, so what it measures when initialised holds.
        page->setGeometry(GetActivePage()->geometry());
        if (QLayout* layout = page->layout()) {
            layout->activate();
        }
        page->EnsureInitialized();
    }
}

void CTestSheet::showEvent(QShowEvent* event) {
    // Screen readers see the tabs not yet opened too: they must find the pages' real contents
    // there (the version, the list's heading), not what stands in for them until initialisation.
    // The page in front has its size by now.
    for (int i = 0; i < m_pTabs->count(); ++i) {
        InitializePage(PageAt(i));
    }
    QDialog::showEvent(event);
}

bool CTestSheet::SwitchTo(int index) {
    if (index == m_nActive) {
        return true;
    }
    if (!GetActivePage()->OnKillActive()) {
        return false;
    }
    CPropertyPage* page = PageAt(index);
    InitializePage(page);
    m_nActive = index;
    m_pTabs->setCurrentIndex(index);
    page->OnSetActive();
    return true;
}

void CTestSheet::OnTabChanged(int index) {
    // Switches the tab bar did not ask for first, made through the tab widget itself.
    if (m_bSwitching || index == m_nActive) {
        return;
    }
    const int target = index;
    m_bSwitching = true;
    m_pTabs->setCurrentIndex(m_nActive);
    m_bSwitching = false;
    SwitchTo(target);
}

void CTestSheet::OnClose() {
    if (GetActivePage()->OnKillActive() && !m_presence.HideInsteadOfClose()) {
        accept();
    }
}

void CTestSheet::reject() {
    if (!m_presence.HideInsteadOfClose()) {
        QDialog::reject();
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
            m_statusPage.OnPageFound(text);
            break;
        case WM_SPIDER_ADDRESS:
            m_statusPage.OnAddressDetected(text);
            break;
        default:
            m_statusPage.OnSpiderDone();
            break;
    }
    return true;
}
