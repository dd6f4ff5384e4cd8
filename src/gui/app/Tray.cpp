#include "gui/app/Tray.h"

#include <QAction>

#include "core/polling/PollLine.h"
#include "core/text/StringTable.h"
#include "gui/text/Bytes.h"

CTray::CTray(const QIcon& icon, QObject* parent)
    : QObject(parent),
      m_pShow(m_menu.addAction(QStringLiteral("&Show Velmo"))),
      m_pPoll(m_menu.addAction(QStringLiteral("&Poll"))),
      m_pQuit(nullptr),
      m_icon(icon) {
    m_menu.addSeparator();
    m_pQuit = m_menu.addAction(QStringLiteral("&Quit"));
    m_menu.setObjectName(QStringLiteral("trayMenu"));
    m_pShow->setObjectName(QStringLiteral("trayShow"));
    m_pPoll->setObjectName(QStringLiteral("trayPoll"));
    m_pQuit->setObjectName(QStringLiteral("trayQuit"));
    m_icon.setObjectName(QStringLiteral("trayIcon"));
    m_icon.setToolTip(LoadText(IDS_APP_TITLE));
    m_icon.setContextMenu(&m_menu);
    connect(m_pShow, &QAction::triggered, this, &CTray::showRequested);
    connect(m_pPoll, &QAction::triggered, this, &CTray::pollToggleRequested);
    connect(m_pQuit, &QAction::triggered, this, &CTray::quitRequested);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    Q_EMIT showRequested();
                }
            });
    m_icon.show();
}

void CTray::SetPolling(bool bPolling) {
    m_pPoll->setText(bPolling ? QStringLiteral("S&top polling") : QStringLiteral("&Poll"));
}

void CTray::SetWindowShown(bool bShown) {
    m_pShow->setVisible(!bShown);
}

void CTray::SetPollAvailable(bool bAvailable) {
    m_pPoll->setEnabled(bAvailable);
}

void CTray::SetLastRead(const QString& result, std::time_t when) {
    m_icon.setToolTip(LoadText(IDS_APP_TITLE) + '\n' + result + QStringLiteral(", read ") +
                      QString::fromLocal8Bit(FormatPollTime(when)));
}
