#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <ctime>

class QAction;

// Velmo's icon in the desktop's tray: its tool tip tells the last read of the polled page and
// when it was made, its menu shows the window (while it is out of sight), starts or stops polling
// and, after a separator, quits.
class CTray : public QObject {
    Q_OBJECT

public:
    explicit CTray(const QIcon& icon, QObject* parent = nullptr);

    void SetPolling(bool bPolling);
    // A spider run leaves Poll unavailable, as on the Polling tab.
    void SetPollAvailable(bool bAvailable);
    // Show is offered only while the window is hidden or minimised.
    void SetWindowShown(bool bShown);
    // The result of a read, an address or "n/a", and when the read started.
    void SetLastRead(const QString& result, std::time_t when);

    const QSystemTrayIcon& Icon() const { return m_icon; }
    QMenu& Menu() { return m_menu; }

Q_SIGNALS:
    void showRequested();
    void pollToggleRequested();
    void quitRequested();

private:
    QMenu m_menu;
    QAction* m_pShow;
    QAction* m_pPoll;
    QAction* m_pQuit;
    QSystemTrayIcon m_icon;
};
