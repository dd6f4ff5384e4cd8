#include "support/GuiFixture.h"

#include <QFile>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>

#include "support/TestHostLookup.h"

void InitGuiTestProcess() {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
}

CGuiFixture::CGuiFixture() : m_settings(m_dir.path() + "/Ravik/Velmo.ini") {}

CGuiFixture::~CGuiFixture() {
    m_sheet.reset();
}

void CGuiFixture::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                              const QString& detail) {
    boxes.push_back({text, icon, m_sheet ? ActiveTab() : QString(),
                     m_sheet ? ShownPage() : QString(), owner ? owner->window() : nullptr, detail});
}

bool CGuiFixture::Open(const QString& target) {
    opened.push_back(target);
    return bOpenSucceeds;
}

CTestSheet& CGuiFixture::OpenSheet() {
    m_sheet = std::make_unique<CTestSheet>(
        m_settings,
        SheetEnvironment{detectionServers, SpiderSettings{{}, TestHostLookup()}, polling, this});
    m_sheet->show();
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

QString CGuiFixture::SettingsPath() const {
    return m_settings.File();
}

QString CGuiFixture::SettingsText() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
