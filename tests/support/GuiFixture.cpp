#include "support/GuiFixture.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <unistd.h>

#include <cstdlib>

#include "support/LoopbackServer.h"
#include "support/TestHostLookup.h"

void InitGuiTestProcess() {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
}

QStringList LabelTexts(const QWidget& widget) {
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

bool PollOnce(CPollingPage& page) {
    QSignalSpy read(&page, &CPollingPage::addressRead);
    page.OnTimer();
    return read.wait(20000);
}

CCapturedStderr::CCapturedStderr() {
    if (m_file.open()) {
        m_saved = dup(STDERR_FILENO);
        dup2(m_file.handle(), STDERR_FILENO);
    }
}

CCapturedStderr::~CCapturedStderr() {
    if (m_saved >= 0) {
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }
}

QStringList CCapturedStderr::Lines(const QString& prefix) {
    QStringList lines;
    m_file.seek(0);  // the descriptor shares its offset with standard error's
    for (const QString& line : QString::fromLocal8Bit(m_file.readAll()).split('\n')) {
        if (line.startsWith(prefix)) {
            lines << line.mid(prefix.size());
        }
    }
    m_file.seek(m_file.size());
    return lines;
}

CGuiFixture::CGuiFixture() : m_settings(m_dir.path() + "/Ravik/Velmo.ini") {}

CGuiFixture::~CGuiFixture() {
    m_sheet.reset();
}

void CGuiFixture::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                              const QString& detail) {
    boxes.push_back({text,
                     icon,
                     m_sheet ? ActiveTab() : QString(),
                     m_sheet ? ShownPage() : QString(),
                     owner ? owner->window() : nullptr,
                     detail,
                     {}});
    if (whileBoxIsUp) {
        whileBoxIsUp();
    }
}

bool CGuiFixture::ShowChoice(QWidget* owner, const QString& text, MessageIcon icon,
                             const QString& action) {
    ShowMessage(owner, text, icon);
    boxes.back().action = action;
    return bPressAction;
}

bool CGuiFixture::ShowQuestion(QWidget* owner, const QString& text, const QString& detail,
                               const QString& action) {
    ShowMessage(owner, text, MessageIcon::Exclamation, detail);
    boxes.back().action = action;
    boxes.back().bQuestion = true;
    return bPressAction;
}

void CGuiFixture::DetectSlowly() {
    m_slowDetection = std::make_unique<CLoopbackServer>();
    CLoopbackServer::Page slow;
    slow.body = "203.0.113.45";
    slow.delay = std::chrono::seconds(60);
    m_slowDetection->Serve("/", slow);
    detectionServers = {m_slowDetection->Url("/")};
}

bool CGuiFixture::Open(const QString& target) {
    opened.push_back(target);
    return bOpenSucceeds;
}

CTestSheet& CGuiFixture::OpenSheet() {
    BuildSheet().show();
    return *m_sheet;
}

CTestSheet& CGuiFixture::OpenOnTab(const QString& caption) {
    OpenSheet();
    QApplication::setActiveWindow(m_sheet.get());
    ClickTab(caption);
    return *m_sheet;
}

CTestSheet& CGuiFixture::BuildSheet() {
    m_sheet.reset();
    m_sheet = std::make_unique<CTestSheet>(
        m_settings, SheetEnvironment{detectionServers, SpiderSettings{.lookup = TestHostLookup()},
                                     polling, this, bRealGateway ? nullptr : &gateway,
                                     unusableServersFile, unusableServersWhy});
    return *m_sheet;
}

void CGuiFixture::ClickTab(const QString& caption) {
    auto* tabs = m_sheet->findChild<QTabWidget*>(QStringLiteral("tabs"));
    QTabBar* bar = tabs->tabBar();
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == caption) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
            return;
        }
    }
}

QString CGuiFixture::ActiveTab() const {
    auto* tabs = m_sheet->findChild<QTabWidget*>(QStringLiteral("tabs"));
    return tabs->tabText(tabs->currentIndex());
}

QString CGuiFixture::ShownPage() const {
    auto* tabs = m_sheet->findChild<QTabWidget*>(QStringLiteral("tabs"));
    QStringList shown;
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isVisible()) {
            shown << tabs->tabText(i);
        }
    }
    return shown.join(',');
}

QStringList CGuiFixture::LogLines() {
    QStringList lines =
        Sheet().PollingPage().findChild<QPlainTextEdit*>("logEdit")->toPlainText().split('\n');
    lines.removeAll(QString());
    return lines;
}

QString CGuiFixture::SettingsPath() const {
    return m_settings.File();
}

QString CGuiFixture::SettingsText() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
