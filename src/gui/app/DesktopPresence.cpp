#include "gui/app/DesktopPresence.h"

#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>

#include "core/address/AddressScan.h"
#include "gui/app/Tray.h"
#include "gui/desktop/Notifications.h"
#include "gui/pages/PollingPage.h"
#include "gui/pages/RouterPage.h"
#include "gui/pages/SpiderPage.h"
#include "gui/settings/SettingsStore.h"
#include "gui/text/Bytes.h"

namespace {

const QString kSection = QStringLiteral("Polling");
const QString kResume = QStringLiteral("Resume");

}  // namespace

CDesktopPresence::CDesktopPresence(QDialog& window, CRouterPage& router, CSpiderPage& status,
                                   CPollingPage& polling, CSettingsStore& settings,
                                   const QIcon& icon)
    : m_window(window), m_router(router), m_polling(polling), m_settings(settings) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = std::make_unique<CTray>(icon);
        connect(m_tray.get(), &CTray::showRequested, this, &CDesktopPresence::ShowWindow);
        connect(m_tray.get(), &CTray::pollToggleRequested, this,
                &CDesktopPresence::pollingToggleRequested);
        connect(m_tray.get(), &CTray::quitRequested, this, &CDesktopPresence::Quit);
        connect(&status, &CSpiderPage::runningChanged, m_tray.get(),
                [this](bool bRunning) { m_tray->SetPollAvailable(!bRunning); });
        m_tray->SetWindowShown(false);
        m_window.installEventFilter(this);
    }
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), &m_window);
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

bool CDesktopPresence::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == &m_window &&
        (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange)) {
        m_tray->SetWindowShown(m_window.isVisible() && !m_window.isMinimized());
    }
    return false;
}

void CDesktopPresence::OnAddressRead(const QString& result, qint64 started, const QString& why) {
    if (m_tray) {
        m_tray->SetLastRead(result, static_cast<std::time_t>(started));
    }
    // Told as velmo-cli reports it, in dotted decimal; the log keeps what the page wrote.
    switch (m_watch.Feed(JudgedAddress(ToBytes(result)))) {
        case AddressEvent::Changed:
            ShowNotification(QStringLiteral("Public address changed"),
                             QStringLiteral("%1, was %2")
                                 .arg(FromBytes(m_watch.Address()), FromBytes(m_watch.Previous())));
            break;
        case AddressEvent::Lost:
            // A router that is down or refuses the login is not one whose page lost the address.
            ShowNotification(
                QStringLiteral("No public address"),
                QStringLiteral("%1; the last one was %2.").arg(why, FromBytes(m_watch.Address())));
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
    if (!m_polling.StartsAtLogin()) {
        return;
    }
    // A password that is neither empty nor in the keyring is not there at the next start; the
    // router's own answer needs none.
    const bool bResume =
        m_polling.IsPolling() &&
        (m_polling.PollsRouter() || m_router.Password().isEmpty() || m_router.RemembersPassword());
    m_settings.WriteProfileInt(kSection, kResume, bResume ? 1 : 0);
}

bool CDesktopPresence::HideInsteadOfClose() {
    if (!m_tray || !m_polling.IsPolling()) {
        return false;
    }
    m_window.hide();
    if (!m_bToldAboutTray) {
        m_bToldAboutTray = true;
        ShowNotification(QStringLiteral("Velmo keeps polling"),
                         QStringLiteral("Velmo is in the tray and keeps polling. Quit from its "
                                        "menu ends it."));
    }
    return true;
}

void CDesktopPresence::ShowWindow() {
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

void CDesktopPresence::Quit() {
    m_window.done(QDialog::Accepted);
    // A box still up would hold the program until it is closed.
    for (QDialog* box : m_window.findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
        box->reject();
    }
}

void CDesktopPresence::Start(bool bBackground) {
    if (!bBackground) {
        m_window.show();
        return;
    }
    if (!m_tray) {
        // Placed by the window system, a dialog forgets that it was to start minimised; placed
        // where it would have put it, it keeps it.
        m_window.adjustSize();
        m_window.move(m_window.screen()->availableGeometry().center() - m_window.rect().center());
        m_window.showMinimized();
    }
    if (m_settings.GetProfileInt(kSection, kResume, 0) == 0) {
        return;
    }
    m_router.WhenPasswordLoaded([self = QPointer<CDesktopPresence>(this)](bool bLoaded) {
        if (self && bLoaded && !self->m_polling.IsPolling()) {
            Q_EMIT self->pollingToggleRequested();
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
    connect(&m_window, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    return m_window.result();
}
