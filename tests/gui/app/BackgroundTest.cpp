// Velmo on a desktop without a session bus, so without a tray, a keyring or notifications: the
// start at login and the start in the background, Close and Quit.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/GuiFixture.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"

class BackgroundTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CGuiFixture> fixture;
    std::unique_ptr<CLoopbackServer> router;

    CPollingPage& Polling() { return fixture->Sheet().PollingPage(); }
    QCheckBox* StartAtLogin() { return Polling().findChild<QCheckBox*>("startAtLogin"); }
    QPushButton* Poll() { return Polling().findChild<QPushButton*>("pollButton"); }
    QString Entry() {
        return QDir::cleanPath(QFileInfo(fixture->SettingsPath()).path() +
                               "/../autostart/velmo.desktop");
    }
    void OpenOnPollingTab() { fixture->OpenOnTab("Polling"); }

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() {
        fixture = std::make_unique<CGuiFixture>();
        router = std::make_unique<CLoopbackServer>();
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        fixture->Settings().WriteProfileInt("Router", "Port", router->Port());
        fixture->Settings().WriteProfileString("Polling", "Path", "/status.htm");
    }
    void cleanup() {
        fixture.reset();
        router.reset();
    }

    void newBoxesStartOffAndTheKeyringOneSaysWhyItIsDisabled() {
        OpenOnPollingTab();
        QCOMPARE(StartAtLogin()->text(), QStringLiteral("Start &Velmo at login"));
        QVERIFY(!StartAtLogin()->isChecked() && StartAtLogin()->isEnabled());
        Poll()->setFocus();
        QTest::keyClick(Poll(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), StartAtLogin());
        auto* remember = fixture->Sheet().RouterPage().findChild<QCheckBox*>("rememberPassword");
        QCOMPARE(remember->text(), QStringLiteral("Remember password in the &keyring"));
        QVERIFY(!remember->isChecked() && !remember->isEnabled());
        const QString why =
            QStringLiteral("No desktop keyring is available: there is no session bus.");
        QCOMPARE(remember->toolTip(), why);
        // Readable without pointing at the box too.
        auto* reason = fixture->Sheet().RouterPage().findChild<QLabel*>("keyringReason");
        QVERIFY(reason->isVisibleTo(&fixture->Sheet().RouterPage()));
        QCOMPARE(reason->text(), why);
        QVERIFY(!QFile::exists(Entry()));
    }

    // The entry runs the installed desktop entry's command, or this program when none is
    // installed; a folder that cannot be made leaves the box off and says why.
    void startAtLoginWritesAndRemovesTheEntry_data() {
        QTest::addColumn<QString>("installed");  // the Exec of the installed velmo.desktop
        QTest::addColumn<bool>("blocked");       // a file where the autostart folder goes
        QTest::newRow("installed") << "velmo" << false;
        QTest::newRow("not installed") << "" << false;
        QTest::newRow("folder blocked") << "" << true;
    }
    void startAtLoginWritesAndRemovesTheEntry() {
        QFETCH(QString, installed);
        QFETCH(bool, blocked);
        QTemporaryDir data;
        if (!installed.isEmpty()) {
            QDir(data.path()).mkpath("applications");
            QFile entry(data.path() + "/applications/velmo.desktop");
            QVERIFY(entry.open(QIODevice::WriteOnly));
            entry.write("[Desktop Entry]\nType=Application\nName=Velmo\nExec=" +
                        installed.toUtf8() + "\n[Desktop Action other]\nExec=other\n");
        }
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        qputenv("XDG_DATA_DIRS", data.path().toUtf8());
        OpenOnPollingTab();
        if (blocked) {
            QFile file(QFileInfo(Entry()).path());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        StartAtLogin()->click();
        qputenv("XDG_DATA_HOME", dataHome);
        qputenv("XDG_DATA_DIRS", dataDirs);
        if (blocked) {
            QVERIFY(!StartAtLogin()->isChecked());
            QCOMPARE(fixture->boxes.size(), 1u);
            QVERIFY(fixture->boxes[0].text.contains(QFileInfo(Entry()).path()));
            return;
        }
        QVERIFY(StartAtLogin()->isChecked());
        QFile entry(Entry());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString exec =
            installed.isEmpty() ? QCoreApplication::applicationFilePath() : installed;
        QVERIFY2(entry.readAll().contains(("\nExec=" + exec + " --background\n").toUtf8()),
                 qPrintable(Entry()));
        const ProcessResult validate =
            RunProgram({"/usr/bin/desktop-file-validate", Entry().toStdString()});
        QVERIFY2(validate.status == 0 && validate.out.empty() && validate.err.empty(),
                 (validate.out + validate.err).c_str());
        fixture->CloseSheet();
        OpenOnPollingTab();
        QVERIFY(StartAtLogin()->isChecked());
        StartAtLogin()->click();
        QVERIFY(!QFile::exists(Entry()));
    }

    // Only a session that ended polling with a password at hand is resumed, and only in the
    // background: a typed password is never at hand in the next session, but the router's own
    // answer needs none.
    void backgroundStartResumesWhatTheLastSessionPolled() {
        OpenOnPollingTab();
        StartAtLogin()->click();
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(Polling().IsPolling());
        QVERIFY(fixture->SettingsText().contains("Resume=1"));
        fixture->CloseSheet();

        fixture->BuildSheet().Presence().Start(false);
        QVERIFY(!Polling().IsPolling());
        const std::size_t before = router->Requests().size();
        CTestSheet& sheet = fixture->BuildSheet();
        sheet.Presence().Start(true);
        QVERIFY(sheet.isMinimized());
        QVERIFY(Polling().IsPolling());
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Polling"));
        QVERIFY(PollOnce(Polling()));
        QVERIFY(router->Requests().size() > before);

        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(fixture->SettingsText().contains("Resume=0"));
        fixture->BuildSheet().Presence().Start(true);
        QVERIFY(!Polling().IsPolling());

        fixture->Sheet().RouterPage().findChild<QLineEdit*>("passwordEdit")->setText("typed");
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(Polling().IsPolling());
        QVERIFY(fixture->SettingsText().contains("Resume=0"));
        // The Status tab's offer to poll the router, taken while a page is polled, changes
        // nothing of that polling.
        Q_EMIT fixture->Sheet().StatusPage().routerPollingRequested();
        QVERIFY(!Polling().AsksRouter());
        fixture->BuildSheet().Presence().Start(true);
        QVERIFY(!Polling().IsPolling());

        fixture->Sheet().RouterPage().findChild<QLineEdit*>("passwordEdit")->setText("typed");
        fixture->ClickTab("Polling");
        Polling().SetAsksRouter(true);
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(fixture->SettingsText().contains("Resume=1"));
        fixture->BuildSheet().Presence().Start(true);
        QVERIFY(Polling().IsPolling() && Polling().AsksRouter());
        QVERIFY(PollOnce(Polling()));
        QCOMPARE(fixture->gateway.Questions().size(), 2u);  // UPnP IGD, then NAT-PMP
        QVERIFY(fixture->boxes.empty());
    }

    void withoutATrayCloseAndQuitEndTheWindowEvenWhilePolling() {
        OpenOnPollingTab();
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QSignalSpy closed(&fixture->Sheet(), &QDialog::finished);
        QTest::mouseClick(fixture->Sheet().findChild<QPushButton*>("close"), Qt::LeftButton);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!fixture->Sheet().isVisible());

        OpenOnPollingTab();
        QSignalSpy quit(&fixture->Sheet(), &QDialog::finished);
        QTest::keyClick(&fixture->Sheet(), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(quit.count(), 1);
    }

    // The program runs until the window is done with, not until it is hidden.
    void runEndsAtQuitNotWhenTheWindowHides() {
        CTestSheet& sheet = fixture->BuildSheet();
        bool bQuit = false;
        QTimer::singleShot(0, &sheet, [&] {
            sheet.hide();
            QTimer::singleShot(0, &sheet, [&] {
                bQuit = true;
                sheet.Presence().Quit();
            });
        });
        sheet.DoModal();
        QVERIFY(bQuit);
    }
};

QTEST_MAIN(BackgroundTest)
#include "BackgroundTest.moc"
