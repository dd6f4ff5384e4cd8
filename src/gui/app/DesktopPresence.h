#pragma once

#include <QObject>

#include <memory>

#include "core/polling/AddressWatch.h"

class CSettingsStore;
class QIcon;
class CTestSheet;
class CTray;

// Velmo beyond its window: a notice when the polled address changes, goes or comes back; the icon
// in the desktop's tray when there is one, into which Close hides the window while polling goes
// on; Quit (Ctrl+Q), which always ends the program as Close does; and the start at login, which
// keeps the window out of the way and resumes polling.
class CDesktopPresence : public QObject {
    Q_OBJECT

public:
    // `icon` is the tray's.
    CDesktopPresence(CTestSheet& sheet, CSettingsStore& settings, const QIcon& icon);
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

private:
    void OnAddressRead(const QString& result, qint64 started);
    void OnPollingChanged(bool bPolling);
    void TogglePolling();
    // While Velmo starts at login, whether polling is to resume at the next start.
    void SaveResume();

    CTestSheet& m_sheet;
    CSettingsStore& m_settings;
    std::unique_ptr<CTray> m_tray;
    CAddressWatch m_watch;
    bool m_bToldAboutTray = false;
};
