// The About tab's version line, notice, title font and site link.
#include <QGroupBox>
#include <QLabel>
#include <QTest>

#include "core/version/ModuleVersion.h"
#include "support/GuiFixture.h"

class AboutPageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CGuiFixture> fixture;
    VersionResource resource;

    void UseVersion(std::uint32_t ms, std::uint32_t ls, bool bPrerelease, const char* notice) {
        resource = VersionResource();
        resource.fixed.dwSignature = VS_FFI_SIGNATURE;
        resource.fixed.dwFileVersionMS = ms;
        resource.fixed.dwFileVersionLS = ls;
        resource.fixed.dwFileFlags = bPrerelease ? VS_FF_PRERELEASE : 0;
        resource.translation = 0x04E40409u;
        resource.strings["\\StringFileInfo\\040904e4\\LegalCopyright"] = notice;
        CModuleVersion::RegisterModule("", &resource);
    }
    QString Label(const char* id) {
        fixture->OpenSheet();
        fixture->ClickTab("About");
        return fixture->Sheet().AboutPage().findChild<QLabel*>(id)->text();
    }

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() { fixture = std::make_unique<CGuiFixture>(); }
    void cleanup() {
        fixture.reset();
        CModuleVersion::RegisterModule("", &ProgramVersionResource());
    }

    void versionLine_data() {
        QTest::addColumn<uint>("ms");
        QTest::addColumn<uint>("ls");
        QTest::addColumn<bool>("prerelease");
        QTest::addColumn<QString>("line");
        QTest::newRow("1.2.15.1") << 0x00010002u << 0x000F0001u << false
                                  << "Version: 1.02 (Build 15.1)";
        QTest::newRow("beta") << 0x00010002u << 0x000F0001u << true
                              << "Version: 1.02 (Build 15.1) [BETA]";
        QTest::newRow("minor 100")
            << 0x00020064u << 0x00000000u << false << "Version: 2.100 (Build 0.0)";
        QTest::newRow("minor 10") << 0x0003000Au << 0x00070002u << false
                                  << "Version: 3.10 (Build 7.2)";
    }
    void versionLine() {
        QFETCH(uint, ms);
        QFETCH(uint, ls);
        QFETCH(bool, prerelease);
        QFETCH(QString, line);
        UseVersion(ms, ls, prerelease, "Copyright (C) 2026 Ravik. Shared freely.");
        QCOMPARE(Label("versionLabel"), line);
    }

    void noticeIsCutAtItsFirstDot() {
        UseVersion(0x00010000, 0, false, "Copyright (C) 2026 Ravik Ltd. Shared freely.");
        QCOMPARE(Label("copyrightLabel"), QStringLiteral("Copyright (C) 2026 Ravik Ltd"));
        fixture->CloseSheet();
        UseVersion(0x00010000, 0, false, "...");
        QCOMPARE(Label("copyrightLabel"), QString());
    }

    void templateTextsStayWithoutVersionData() {
        CModuleVersion::RegisterModule("", nullptr);
        QCOMPARE(Label("versionLabel"), QStringLiteral("<version>"));
        QCOMPARE(Label("copyrightLabel"), QStringLiteral("<copyright>"));
    }

    void theProgramsOwnVersionShows() {
        QVERIFY(Label("versionLabel").startsWith("Version: 1.00 (Build 0.0)"));
        QCOMPARE(Label("copyrightLabel"), QStringLiteral("Copyright (C) 2026 Ravik"));
    }

    void titleSiteLinkAndFixedTexts() {
        fixture->OpenSheet();
        CAboutPage& page = fixture->Sheet().AboutPage();
        const QFont before = page.font();
        fixture->ClickTab("About");
        auto* frame = page.findChild<QGroupBox*>("titleFrame");
        QCOMPARE(frame->title(), QStringLiteral("Velmo"));
        QCOMPARE(frame->font().pointSize(), before.pointSize() * 170 / 100);
        QCOMPARE(page.findChild<QLabel*>("versionLabel")->font().pointSize(), before.pointSize());
        auto* link = page.findChild<CHyperLink*>("siteLink");
        QCOMPARE(link->Text(), QStringLiteral("http://www.velmo.example"));
        QCOMPARE(link->Target(), QStringLiteral("http://www.velmo.example/"));
        QCOMPARE(link->toolTip(), QString());
        const QStringList labels = LabelTexts(page);
        QVERIFY(labels.contains("A test application for HTML-enabled routers."));
        QVERIFY(labels.contains("All rights reserved."));
        QVERIFY(
            labels.contains("For updates and other programs, please take a look at my website:"));
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(fixture->opened, QStringList{"http://www.velmo.example/"});
    }
};

QTEST_MAIN(AboutPageTest)
#include "AboutPageTest.moc"
