#pragma once

#include <QObject>

#include <memory>

#include "core/polling/AddressWatch.h"

class CPollingPage;
class CRouterPage;
class CSettingsStore;
class CSpiderPage;
class CTray;
class QDialog;
class QIcon;

// Velmo beyond its window: a notice when the polled address changes, goes or comes back; the icon
// in the desktop's tray when there is one, into which Close hides the window while polling goes
// on; Quit (Ctrl+Q), which always ends the program as Close does; and the start at login, which
// keeps the window out of the way and resumes polling.
class CDesktopPresence : public QObject {
    Q_OBJECT

public:
    // The pages are those of `window`; `icon` is the tray's.
    CDesktopPresence(QDialog& window, CRouterPage& router, CSpiderPage& status,
                     CPollingPage& polling, CSettingsStore& settings, const QIcon& icon);
    ~CDesktopPresence() override;

    // Null when the desktop has no tray.
    CTray* Tray() const { return m_tray.get(); }

    // Close while polling with a tray: hides the window instead and, the first time, says that
    // polling goes on. False when Close is to close.
    bool HideInsteadOfClose();
    // Shows the window. In the background (a start at login) the window stays in the tray, or
    // starts minimised without one, and polling resumes if the last session ended polling and its
    // password is at hand.
    void Start(bool bBackground);
    // Start, then runs until the window closes or Quit; answers the window's result.
    int Run(bool bBackground);
    void Quit();
    void ShowWindow();

Q_SIGNALS:
    // Poll or Stop polling from the tray, or polling resumed at a start in the background.
    void pollingToggleRequested();

protected:
    // Follows the window in and out of sight for the tray's menu.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnAddressRead(const QString& result, qint64 started, const QString& why);
    void OnPollingChanged(bool bPolling);
    // While Velmo starts at login, whether polling is to resume at the next start.
    void SaveResume();

    QDialog& m_window;
    CRouterPage& m_router;
    CPollingPage& m_polling;
    CSettingsStore& m_settings;
    std::unique_ptr<CTray> m_tray;
    CAddressWatch m_watch;
    bool m_bToldAboutTray = false;
};
