#include "support/GuiFixture.h"

#include <QFile>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>

#include "support/TestHostLookup.h"

void InitGuiTestProcess() {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
}

CGuiFixture::CGuiFixture() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    SetDesktopHooks({
        [this](const QString& text, MessageIcon icon) {
            boxes.push_back({text, icon, m_sheet ? ActiveTab() : QString()});
        },
        [this](const QString& target) {
            opened.push_back(target);
            return bOpenSucceeds;
        },
        [this] { ++beeps; },
    });
    m_app = std::make_unique<CVelmoApp>();
    m_app->SetRegistryKey(QStringLiteral("Ravik"));
}

CGuiFixture::~CGuiFixture() {
    m_sheet.reset();
    m_app.reset();
    SetDesktopHooks({});
}

CTestSheet& CGuiFixture::OpenSheet() {
    m_sheet = std::make_unique<CTestSheet>(
        nullptr, SheetEnvironment{detectionServers, SpiderSettings{{}, TestHostLookup()}});
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

QString CGuiFixture::SettingsPath() const {
    return m_dir.path() + "/Ravik/Velmo.ini";
}

QString CGuiFixture::SettingsText() const {
    QFile file(SettingsPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
