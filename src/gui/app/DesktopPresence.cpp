#include "gui/app/DesktopPresence.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>

#include "gui/app/TestSheet.h"
#include "gui/app/Tray.h"
#include "gui/desktop/Notifications.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

const QString kSection = QStringLiteral("Polling");
const QString kResume = QStringLiteral("Resume");

}  // namespace

CDesktopPresence::CDesktopPresence(CTestSheet& sheet, CSettingsStore& settings, const QIcon& icon)
    : m_sheet(sheet), m_settings(settings) {
    CPollingPage& polling = sheet.PollingPage();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = std::make_unique<CTray>(icon);
        connect(m_tray.get(), &CTray::showRequested, this, &CDesktopPresence::ShowWindow);
        connect(m_tray.get(), &CTray::pollToggleRequested, this, &CDesktopPresence::TogglePolling);
        connect(m_tray.get(), &CTray::quitRequested, this, &CDesktopPresence::Quit);
        connect(&sheet.StatusPage(), &CSpiderPage::runningChanged, m_tray.get(),
                [this](bool bRunning) { m_tray->SetPollAvailable(!bRunning); });
    }
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &sheet);
    connect(quit, &QShortcut::activated, this, &CDesktopPresence::Quit);
    connect(&polling, &CPollingPage::addressRead, this, &CDesktopPresence::OnAddressRead);
    connect(&polling, &CPollingPage::pollingChanged, this, &CDesktopPresence::OnPollingChanged);
    connect(&polling, &CPollingPage::startAtLoginChanged, this, [this](bool bOn) {
        if (bOn) {
            SaveResume();
        } else {
            m_settings.WriteProfileInt(kSection, kResume, 0);
        }
    });
}

CDesktopPresence::~CDesktopPresence() = default;

void CDesktopPresence::OnAddressRead(const QString& result, qint64 started) {
    if (m_tray) {
        m_tray->SetLastRead(result, static_cast<std::time_t>(started));
    }
    switch (m_watch.Feed(ToBytes(result))) {
        case AddressEvent::Changed:
            ShowNotification(QStringLiteral("Public address changed"),
                             QStringLiteral("%1, was %2")
                                 .arg(FromBytes(m_watch.Address()), FromBytes(m_watch.Previous())));
            break;
        case AddressEvent::Lost:
            ShowNotification(
                QStringLiteral("No public address"),
                QStringLiteral("The router's page shows no address; the last one was %1.")
                    .arg(FromBytes(m_watch.Address())));
            break;
        case AddressEvent::Back:
            ShowNotification(
                QStringLiteral("Public address back"),
                m_watch.Address() == m_watch.Previous()
                    ? QStringLiteral("%1, as before").arg(FromBytes(m_watch.Address()))
                    : QStringLiteral("%1, was %2")
                          .arg(FromBytes(m_watch.Address()), FromBytes(m_watch.Previous())));
            break;
        case AddressEvent::None:
            break;
    }
}

void CDesktopPresence::OnPollingChanged(bool bPolling) {
    if (bPolling) {
        m_watch = CAddressWatch();  // each session has its own baseline
    }
    if (m_tray) {
        m_tray->SetPolling(bPolling);
    }
    SaveResume();
}

void CDesktopPresence::SaveResume() {
    if (!m_sheet.PollingPage().StartsAtLogin()) {
        return;
    }
    // A password that is neither empty nor in the keyring is not there at the next start.
    const CRouterPage& router = m_sheet.RouterPage();
    const bool bResume = m_sheet.PollingPage().IsPolling() &&
                         (router.Password().isEmpty() || router.RemembersPassword());
    m_settings.WriteProfileInt(kSection, kResume, bResume ? 1 : 0);
}

void CDesktopPresence::TogglePolling() {
    CPollingPage& polling = m_sheet.PollingPage();
    // Starting checks what the Polling tab shows, so it comes forward first, as for a double
    // click on the Status tab.
    if (polling.IsPolling() || m_sheet.SetActivePage(&polling)) {
        polling.TogglePolling();
    }
}

bool CDesktopPresence::HideInsteadOfClose() {
    if (!m_tray || !m_sheet.PollingPage().IsPolling()) {
        return false;
    }
    m_sheet.hide();
    if (!m_bToldAboutTray) {
        m_bToldAboutTray = true;
        ShowNotification(QStringLiteral("Velmo keeps polling"),
                         QStringLiteral("Velmo is in the tray and keeps polling. Quit from its "
                                        "menu ends it."));
    }
    return true;
}

void CDesktopPresence::ShowWindow() {
    m_sheet.setWindowState(m_sheet.windowState() & ~Qt::WindowMinimized);
    m_sheet.show();
    m_sheet.raise();
    m_sheet.activateWindow();
}

void CDesktopPresence::Quit() {
    m_sheet.done(QDialog::Accepted);
}

void CDesktopPresence::Start(bool bBackground) {
    if (!bBackground) {
        m_sheet.show();
        return;
    }
    if (!m_tray) {
        // Placed by the window system, a dialog forgets that it was to start minimised; placed
        // where it would have put it, it keeps it.
        m_sheet.adjustSize();
        m_sheet.move(m_sheet.screen()->availableGeometry().center() - m_sheet.rect().center());
        m_sheet.showMinimized();
    }
    if (m_settings.GetProfileInt(kSection, kResume, 0) == 0) {
        return;
    }
    m_sheet.RouterPage().WhenPasswordLoaded(
        [self = QPointer<CDesktopPresence>(this)](bool bLoaded) {
            if (self && bLoaded && !self->m_sheet.PollingPage().IsPolling()) {
                self->TogglePolling();
            }
        });
}

int CDesktopPresence::Run(bool bBackground) {
    // The window ends the program, not the last window to close: a box closed while the window
    // is in the tray would be that.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Start(bBackground);
    // Not QDialog::exec(), which ends when the window hides: in the tray the program goes on.
    QEventLoop loop;
    connect(&m_sheet, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    return m_sheet.result();
}
