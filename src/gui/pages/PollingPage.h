#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>

#include "gui/pages/PropertyPage.h"

// The Polling tab: reads one router page once a minute and logs, with the local time, the first
// acceptable address it shows, or "n/a".
class CPollingPage : public CPropertyPage {
    Q_OBJECT

public:
    explicit CPollingPage(CTestSheet& sheet);

    bool OnSetActive() override;

    bool ApplyPollingSettings();
    void TogglePolling();
    void SetPollingState(bool bPolling);
    void OnTimer();
    void OnChangePath();
    void OnOpen();

    bool IsPolling() const { return m_bPolling != 0; }
    const QString& Path() const { return m_strPath; }
    void SetPath(const QString& path) { m_strPath = path; }

    // The program polls every 60 s; tests shorten it.
    static void SetPollInterval(std::chrono::milliseconds interval);

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    bool ComposeUrl();  // the page URL from the router's address and port and the path

    QLineEdit m_editPath;
    QPlainTextEdit m_editLog;
    QPushButton m_btnPoll;
    int m_bPolling = 0;
    QString m_strUrl;
    QString m_strPath;
    QLineEdit m_editExcludes;
    QString m_strExcludes;
    QPushButton m_btnOpen;
    QTimer m_timer;
    bool m_bActivatedBefore = false;
};
