// Velmo on a desktop of the test's own: notifications, the tray and the keyring, each reached
// over a session bus as on a user's desktop.
#include <QApplication>
#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <algorithm>
#include <atomic>

#include "gui/app/Tray.h"
#include "support/DesktopSession.h"
#include "support/GatewayNamespace.h"
#include "support/GuiFixture.h"
#include "support/LoopbackServer.h"

namespace {

struct MenuItem {
    int id;
    QString label;  // "-" for a separator
    bool bEnabled;
};

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

public:
    explicit DesktopTest(CDesktopSession& session) : m_session(session) {}

private:
    CDesktopSession& m_session;
    std::unique_ptr<CGuiFixture> fixture;
    std::unique_ptr<CLoopbackServer> router;

    CPollingPage& Polling() { return fixture->Sheet().PollingPage(); }
    QPushButton* Poll() { return Polling().findChild<QPushButton*>("pollButton"); }
    QLineEdit* Password() {
        return fixture->Sheet().RouterPage().findChild<QLineEdit*>("passwordEdit");
    }
    QCheckBox* Remember() {
        return fixture->Sheet().RouterPage().findChild<QCheckBox*>("rememberPassword");
    }
    QString RouterKey() { return "127.0.0.1:" + QString::number(router->Port()); }
    QString ItemName() { return "Velmo router password for " + RouterKey(); }
    QStringList LogLines() { return fixture->LogLines(); }

    // The tray item's menu, as the desktop's tray host finds it.
    QString MenuPath(const QString& item) {
        QDBusMessage get = QDBusMessage::createMethodCall(item, "/StatusNotifierItem",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
        const QVariant menu = m_session.Call(get).arguments().value(0);
        return menu.value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    }
    // The items shown, as the tray host shows them, mnemonics marked "_".
    QList<MenuItem> TrayMenu(const QString& item) {
        QDBusMessage layout = QDBusMessage::createMethodCall(item, MenuPath(item),
                                                             "com.canonical.dbusmenu", "GetLayout");
        layout << 0 << -1 << QStringList();
        const QDBusMessage reply = m_session.Call(layout);
        QList<MenuItem> items;
        const QDBusArgument root = reply.arguments().value(1).value<QDBusArgument>();
        int id = 0;
        QVariantMap properties;
        root.beginStructure();
        root >> id >> properties;
        root.beginArray();
        while (!root.atEnd()) {
            QDBusVariant child;
            root >> child;
            const QDBusArgument entry = child.variant().value<QDBusArgument>();
            entry.beginStructure();
            entry >> id >> properties;
            entry.endStructure();
            if (properties.value("visible", true).toBool()) {
                items.push_back({id,
                                 properties.value("type") == "separator"
                                     ? QStringLiteral("-")
                                     : properties.value("label").toString(),
                                 properties.value("enabled", true).toBool()});
            }
        }
        root.endArray();
        root.endStructure();
        return items;
    }
    QStringList TrayLabels(const QString& item) {
        QStringList labels;
        for (const MenuItem& entry : TrayMenu(item)) {
            labels << entry.label;
        }
        return labels;
    }
    void ClickTrayMenu(const QString& item, const QString& label) {
        const QList<MenuItem> items = TrayMenu(item);
        const auto found = std::find_if(items.begin(), items.end(), [&](const MenuItem& entry) {
            return entry.label == label;
        });
        QVERIFY2(found != items.end(), qPrintable(label));
        QDBusMessage event =
            QDBusMessage::createMethodCall(item, MenuPath(item), "com.canonical.dbusmenu", "Event");
        event << found->id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0))
              << 0u;
        QCOMPARE(m_session.Call(event).type(), QDBusMessage::ReplyMessage);
    }
    // Whatever the window sent the notification service before now has arrived there.
    void SyncNotices() {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.Notifications", "GetCapabilities"));
    }

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() {
        fixture = std::make_unique<CGuiFixture>();
        router = std::make_unique<CLoopbackServer>();
        fixture->Settings().WriteProfileInt("Router", "Port", router->Port());
        fixture->Settings().WriteProfileString("Polling", "Path", "/status.htm");
        m_session.ClearNotices();
    }
    void cleanup() {
        fixture.reset();
        router.reset();
    }

    void notificationsTellEachChangeLossAndReturnOnce() {
        // The notices give addresses as velmo-cli does, dotted: 010.020.030.040 is 8.16.24.32.
        const std::vector<std::string> pages{"WAN 198.51.100.1", "WAN 010.020.030.040",
                                             "no address",       "none yet",
                                             "WAN 8.16.24.32",   "WAN 198.51.100.3"};
        std::atomic<std::size_t> served{0};
        router->ServeOthers([&](const std::string&) {
            CLoopbackServer::Page page;
            page.body = pages[std::min(served++, pages.size() - 1)];
            return page;
        });
        fixture->OpenSheet();
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        for (std::size_t tick = 0; tick <= pages.size(); ++tick) {
            QVERIFY(PollOnce(Polling()));
        }
        QTest::mouseClick(Poll(), Qt::LeftButton);

        QStringList results;
        for (const QString& line : LogLines().mid(0, 6)) {
            QCOMPARE(line.indexOf(" - "), 24);
            results << line.mid(27);
        }
        QCOMPARE(results,
                 QStringList({"198.51.100.1", "010.020.030.040", "n/a: no address in the page",
                              "n/a: no address in the page", "8.16.24.32", "198.51.100.3"}));
        SyncNotices();
        QStringList told;
        for (const CDesktopSession::Notice& notice : m_session.Notices()) {
            QCOMPARE(notice.appName, QStringLiteral("Velmo"));
            QCOMPARE(notice.icon, QStringLiteral("velmo"));
            QCOMPARE(notice.hints.value("desktop-entry").toString(), QStringLiteral("velmo"));
            told << notice.summary + ": " + notice.body;
        }
        QCOMPARE(told,
                 QStringList({"Public address changed: 8.16.24.32, was 198.51.100.1",
                              "No public address: The router's page shows no address; the last "
                              "one was 8.16.24.32.",
                              "Public address back: 8.16.24.32, as before",
                              "Public address changed: 198.51.100.3, was 8.16.24.32"}));
        const QString last = LogLines().last();
        QCOMPARE(fixture->Sheet().Presence().Tray()->Icon().toolTip(),
                 "Velmo\n198.51.100.3, read " + last.left(24).trimmed());
    }

    // The notice of a loss says why the read found no address.
    void lossNoticeSaysWhy_data() {
        QTest::addColumn<int>("status");  // of the second read; 0: the router is gone
        QTest::addColumn<QString>("why");
        QTest::newRow("no address") << 200 << "The router's page shows no address";
        QTest::newRow("401") << 401 << "The router refused the login (HTTP 401)";
        QTest::newRow("403") << 403 << "The router refused the login (HTTP 403)";
        QTest::newRow("404") << 404 << "The router answers HTTP 404";
        QTest::newRow("no answer") << 0 << "The router does not answer (refused)";
    }
    void lossNoticeSaysWhy() {
        QFETCH(int, status);
        QFETCH(QString, why);
        std::atomic<int> reads{0};
        router->ServeOthers([&](const std::string&) {
            CLoopbackServer::Page page;
            const bool bFirst = reads++ == 0;
            page.status = bFirst ? 200 : status;
            page.body = bFirst ? "WAN 198.51.100.1" : "LAN only";
            return page;
        });
        fixture->OpenSheet();
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(PollOnce(Polling()));
        if (status == 0) {
            router.reset();
        }
        QVERIFY(PollOnce(Polling()));
        QTest::mouseClick(Poll(), Qt::LeftButton);
        SyncNotices();
        QCOMPARE(m_session.Notices().size(), 1);
        QCOMPARE(m_session.Notices()[0].body, why + "; the last one was 198.51.100.1.");
    }

    // A start counts afresh: its first address is the baseline again.
    void aNewPollingSessionHasANewBaseline() {
        std::atomic<bool> changed{false};
        router->ServeOthers([&](const std::string&) {
            CLoopbackServer::Page page;
            page.body = changed ? "WAN 198.51.100.2" : "WAN 198.51.100.1";
            return page;
        });
        fixture->OpenSheet();
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(PollOnce(Polling()));
        QTest::mouseClick(Poll(), Qt::LeftButton);
        changed = true;
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(PollOnce(Polling()));
        QVERIFY(PollOnce(Polling()));
        QTest::mouseClick(Poll(), Qt::LeftButton);
        SyncNotices();
        QCOMPARE(m_session.Notices().size(), 0);
    }

    // A router whose pages show no address but which tells its WAN address itself, Debian's
    // miniupnpd in a namespace of the test's own: the box that explains the failed run brings the
    // Polling tab forward set to poll the router's own answer, and a change of the router's WAN
    // address is logged and told.
    void thePollingTabPollsTheRouterItself() {
        CGatewayNamespace lan;
        if (const std::string why = lan.Start("100.128.0.45/24"); !why.empty()) {
            if (QTest::currentTestFailed()) {
                return;
            }
            QSKIP(why.c_str());
        }
        CLoopbackServer detection;  // on the namespace's own loopback
        detection.Serve("/", 200, "Current IP Address: 203.0.113.45");
        fixture->detectionServers = {detection.Url("/")};
        fixture->bRealGateway = true;
        fixture->bPressAction = true;
        fixture->Settings().WriteProfileInt("Router", "Address", 0xC0A84D01);  // 192.168.77.1
        fixture->Settings().WriteProfileInt("Router", "Port", 5000);  // the daemon's own pages
        fixture->Settings().WriteProfileString("Polling", "Path", "");
        fixture->OpenSheet();
        fixture->ClickTab("Status");
        QTest::mouseClick(fixture->Sheet().StatusPage().findChild<QPushButton*>("runButton"),
                          Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 2u, 20000);
        QCOMPARE(fixture->boxes[0].text, QStringLiteral("Unable to identify the status page"));
        QVERIFY2(fixture->boxes[1].text.startsWith(
                     "Your router's internet address is 100.128.0.45, not your public address"),
                 qPrintable(fixture->boxes[1].text));
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Polling"));
        QVERIFY(Polling().AsksRouter() && !Polling().IsPolling());

        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(PollOnce(Polling()));
        QVERIFY(lan.SetWan("100.128.0.46/24"));
        QVERIFY(PollOnce(Polling()));
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QStringList results;
        for (const QString& line : LogLines()) {
            results << line.mid(27);
        }
        const QString gatewayShown = Polling().findChild<QLabel*>("gatewayFound")->text();
        fixture->CloseSheet();  // nothing of it outlives the namespace
        QCOMPARE(results, QStringList({"100.128.0.45", "100.128.0.46"}));
        QCOMPARE(gatewayShown,
                 QStringLiteral("Gateway: UPnP IGD http://192.168.77.1:5000/rootDesc.xml"));
        SyncNotices();
        QCOMPARE(m_session.Notices().size(), 1);
        QCOMPARE(m_session.Notices()[0].summary + ": " + m_session.Notices()[0].body,
                 QStringLiteral("Public address changed: 100.128.0.46, was 100.128.0.45"));
    }

    void trayItemAppearsAndItsMenuActs() {
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        const qsizetype before = m_session.TrayItems().size();
        CTestSheet& sheet = fixture->OpenSheet();
        QTRY_VERIFY_WITH_TIMEOUT(m_session.TrayItems().size() > before, 20000);
        const QString item = m_session.TrayItems().last();
        // With the window in sight there is nothing to show.
        QCOMPARE(TrayLabels(item), QStringList({"_Poll", "-", "_Quit"}));

        ClickTrayMenu(item, "_Poll");
        QTRY_VERIFY(Polling().IsPolling());
        QTRY_COMPARE(TrayLabels(item).value(0), QStringLiteral("S_top polling"));

        QSignalSpy finished(&sheet, &QDialog::finished);
        QPushButton* close = sheet.findChild<QPushButton*>("close");
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!sheet.isVisible());
        QVERIFY(Polling().IsPolling());
        QTRY_COMPARE(m_session.Notices().size(), 1);
        QCOMPARE(m_session.Notices()[0].summary, QStringLiteral("Velmo keeps polling"));
        QVERIFY(PollOnce(Polling()));
        QTRY_COMPARE(TrayLabels(item), QStringList({"_Show Velmo", "S_top polling", "-", "_Quit"}));

        ClickTrayMenu(item, "_Show Velmo");
        QTRY_VERIFY(sheet.isVisible());
        QTRY_COMPARE(TrayLabels(item).value(0), QStringLiteral("S_top polling"));
        sheet.showMinimized();
        QTRY_COMPARE(TrayLabels(item).value(0), QStringLiteral("_Show Velmo"));
        ClickTrayMenu(item, "_Show Velmo");
        QTRY_VERIFY(!sheet.isMinimized());
        QTest::keyClick(&sheet, Qt::Key_Escape);
        QVERIFY(!sheet.isVisible());
        SyncNotices();
        QCOMPARE(m_session.Notices().size(), 1);  // told once

        ClickTrayMenu(item, "_Quit");
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(fixture->boxes.size(), 0u);
    }

    // A box over the window leaves the tray's menu usable, from a tray host that shows it or
    // from an icon that a tray embeds as a window of its own, which opens the menu itself: Quit
    // ends Velmo, the box with it.
    void trayMenuWorksWhileABoxIsUp_data() {
        QTest::addColumn<bool>("embedded");
        QTest::newRow("tray host") << false;
        QTest::newRow("embedded icon") << true;
    }
    void trayMenuWorksWhileABoxIsUp() {
        QFETCH(bool, embedded);
        const qsizetype before = m_session.TrayItems().size();
        CTestSheet& sheet = fixture->OpenSheet();
        QTRY_VERIFY_WITH_TIMEOUT(m_session.TrayItems().size() > before, 20000);
        const QString item = m_session.TrayItems().last();
        QMenu& menu = sheet.Presence().Tray()->Menu();
        QPushButton icon(QStringLiteral("icon"));  // as a tray that embeds the icon has it
        connect(&icon, &QPushButton::clicked, this, [&] { menu.popup(QPoint(20, 20)); });
        icon.show();
        QVERIFY(QTest::qWaitForWindowExposed(&icon));
        QSignalSpy finished(&sheet, &QDialog::finished);
        QTimer::singleShot(0, this, [&] {
            QVERIFY(QApplication::activeModalWidget() != nullptr);
            if (!embedded) {
                ClickTrayMenu(item, "_Quit");
                return;
            }
            // Clicked as the window system delivers it, which a box may block.
            QTest::mouseClick(icon.windowHandle(), Qt::LeftButton, {}, icon.rect().center());
            QVERIFY(QTest::qWaitForWindowExposed(&menu));
            QTest::mouseClick(menu.windowHandle(), Qt::LeftButton, {},
                              menu.actionGeometry(menu.actions().last()).center());
        });
        bool bTimedOut = false;  // a safety net: the box goes after a while and the test fails
        QTimer::singleShot(20000, this, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                bTimedOut = true;
                box->close();
            }
        });
        SystemDesktop().ShowMessage(&sheet, QStringLiteral("Up"), MessageIcon::Information);
        QVERIFY(!bTimedOut);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!sheet.isVisible());
    }

    // Poll from the tray is unavailable during a spider run, as on the Polling tab; and while not
    // polling, Close closes as it does without a tray.
    void withATrayPollWaitsForASpiderRunAndCloseCloses() {
        fixture->DetectSlowly();
        const qsizetype before = m_session.TrayItems().size();
        fixture->OpenSheet();
        QTRY_VERIFY_WITH_TIMEOUT(m_session.TrayItems().size() > before, 20000);
        const QString item = m_session.TrayItems().last();
        fixture->ClickTab("Status");
        QTest::mouseClick(fixture->Sheet().StatusPage().findChild<QPushButton*>("runButton"),
                          Qt::LeftButton);
        QTRY_VERIFY(!TrayMenu(item).value(0).bEnabled);  // Poll
        QSignalSpy finished(&fixture->Sheet(), &QDialog::finished);
        QTest::mouseClick(fixture->Sheet().findChild<QPushButton*>("close"), Qt::LeftButton);
        QCOMPARE(finished.count(), 1);
        SyncNotices();
        QVERIFY(m_session.Notices().isEmpty());
    }

    void rememberedPasswordSurvivesARestartAndGoesWhenCleared() {
        fixture->OpenSheet();
        QApplication::setActiveWindow(&fixture->Sheet());
        QVERIFY(Remember()->isEnabled() && !Remember()->isChecked());
        QLineEdit* port = fixture->Sheet().RouterPage().findChild<QLineEdit*>("portEdit");
        port->setFocus();
        QTest::keyClick(port, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Remember());
        QVERIFY(!m_session.KeyringSecret(RouterKey()));

        QTest::keyClicks(Password(), "s3cr3t pa55");
        Remember()->click();
        QVERIFY(fixture->Sheet().RouterPage().ValidateAndSave());
        QTRY_COMPARE_WITH_TIMEOUT(m_session.KeyringSecret(RouterKey()).value_or(""),
                                  std::string("s3cr3t pa55"), 20000);
        QCOMPARE(m_session.KeyringItems(RouterKey()), QStringList{ItemName()});
        QVERIFY(fixture->SettingsText().contains("RememberPassword=1"));

        fixture->CloseSheet();
        fixture->OpenSheet();
        QVERIFY(Remember()->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(Password()->text(), QStringLiteral("s3cr3t pa55"), 20000);

        // The password moves with the router it is for: no entry stays under the one before.
        port = fixture->Sheet().RouterPage().findChild<QLineEdit*>("portEdit");
        for (const QString& to : {QStringLiteral("1"), QString::number(router->Port())}) {
            const QString from = "127.0.0.1:" + port->text();
            port->setText(to);
            QVERIFY(fixture->Sheet().RouterPage().ValidateAndSave());
            QTRY_COMPARE_WITH_TIMEOUT(m_session.KeyringSecret("127.0.0.1:" + to).value_or(""),
                                      std::string("s3cr3t pa55"), 20000);
            QTRY_VERIFY_WITH_TIMEOUT(!m_session.KeyringSecret(from), 20000);
        }

        Remember()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!m_session.KeyringSecret(RouterKey()), 20000);
        // Unticked, a test stores nothing; a read queued after it shows that it is done.
        QVERIFY(fixture->Sheet().RouterPage().ValidateAndSave());
        QKeychain::ReadPasswordJob read(ItemName());
        read.setAutoDelete(false);
        read.setKey(RouterKey());
        QSignalSpy done(&read, &QKeychain::Job::finished);
        read.start();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
        QCOMPARE(read.error(), QKeychain::EntryNotFound);
        fixture->CloseSheet();
        fixture->OpenSheet();
        QVERIFY(!Remember()->isChecked());
        QCOMPARE(Password()->text(), QString());
        QVERIFY(!fixture->SettingsText().contains("pa55"));
        QVERIFY(fixture->boxes.empty());
    }

    // A password stored by earlier versions, under the program's name alone, is still found and
    // moved to the item named for its router, or removed with the box unticked.
    void aPasswordUnderTheOldNameIsMovedOrRemoved_data() {
        QTest::addColumn<bool>("remembered");
        QTest::newRow("remembered") << true;
        QTest::newRow("unticked") << false;
    }
    void aPasswordUnderTheOldNameIsMovedOrRemoved() {
        QFETCH(bool, remembered);
        QKeychain::WritePasswordJob old(QStringLiteral("Velmo"));
        old.setAutoDelete(false);
        old.setKey(RouterKey());
        old.setTextData(QStringLiteral("0ld pa55"));
        QSignalSpy stored(&old, &QKeychain::Job::finished);
        old.start();
        QTRY_COMPARE_WITH_TIMEOUT(stored.count(), 1, 20000);
        QCOMPARE(m_session.KeyringItems(RouterKey()), QStringList{"Velmo"});
        fixture->Settings().WriteProfileInt("Router", "RememberPassword", remembered ? 1 : 0);
        fixture->OpenSheet();
        if (remembered) {
            QTRY_COMPARE_WITH_TIMEOUT(Password()->text(), QStringLiteral("0ld pa55"), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(m_session.KeyringItems(RouterKey()), QStringList{ItemName()},
                                      20000);
            QCOMPARE(m_session.KeyringSecret(RouterKey()).value_or(""), std::string("0ld pa55"));
        } else {
            Remember()->click();
        }
        Remember()->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_session.KeyringItems(RouterKey()), QStringList(), 20000);
        QVERIFY(fixture->boxes.empty());
    }

    // A keyring that fails leaves the password nowhere: QtKeychain does not fall back to a file of
    // its own. DesktopTestKWallet runs this where QtKeychain picks KWallet, which is not there.
    void aFailingKeyringLeavesThePasswordNowhere() {
        if (qgetenv("KDE_SESSION_VERSION") != "4") {
            QSKIP("for a KDE 4 session without KWallet (DesktopTestKWallet)");
        }
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        fixture->OpenSheet();
        Password()->setText("n0where");
        Remember()->click();
        QVERIFY(fixture->Sheet().RouterPage().ValidateAndSave());
        QTRY_VERIFY_WITH_TIMEOUT(!Remember()->toolTip().isEmpty(), 20000);
        for (const QString& root : {config.path(), QFileInfo(fixture->SettingsPath()).path()}) {
            QDirIterator files(root, QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                QFile file(files.next());
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY2(!file.readAll().contains("n0where"), qPrintable(file.fileName()));
            }
        }
    }

    // Each keyring QtKeychain may use enables the box, KDE 6's wallet too; none disables it.
    // DesktopTestNoKeyring runs this on a bus where the test alone gives the names, so a keyring
    // that went away after the start refuses the password, which must not stay looking stored.
    void aKeyringOnTheBusEnablesTheBox_data() {
        QTest::addColumn<QString>("service");
        QTest::newRow("none") << QString();
        QTest::newRow("Secret Service") << "org.freedesktop.secrets";
        QTest::newRow("KWallet 5") << "org.kde.kwalletd5";
        QTest::newRow("KWallet 6") << "org.kde.kwalletd6";
    }
    void aKeyringOnTheBusEnablesTheBox() {
        if (!qEnvironmentVariableIsSet("VELMO_TEST_NO_KEYRING")) {
            QSKIP("for a bus without a keyring (DesktopTestNoKeyring)");
        }
        QFETCH(QString, service);
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(service.isEmpty() || bus.registerService(service));
        fixture->OpenSheet();
        if (!service.isEmpty()) {
            bus.unregisterService(service);
        }
        QCOMPARE(Remember()->isEnabled(), !service.isEmpty());
        QCOMPARE(Remember()->toolTip().isEmpty(), !service.isEmpty());
        CRouterPage& page = fixture->Sheet().RouterPage();
        QCOMPARE(page.findChild<QLabel*>("keyringReason")->isVisibleTo(&page), service.isEmpty());
        if (service == QLatin1String("org.freedesktop.secrets")) {
            Remember()->click();
            QVERIFY(fixture->Sheet().RouterPage().ValidateAndSave());
            QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 1u, 20000);
            QCOMPARE(fixture->boxes[0].text,
                     QStringLiteral("The password could not be stored in the keyring."));
            QVERIFY(!Remember()->isChecked());
            QVERIFY(fixture->SettingsText().contains("RememberPassword=0"));
        }
    }

    // In the tray, with the password from the keyring.
    void backgroundStartStaysHiddenAndResumesWithTheRememberedPassword() {
        router->RequireAuthorization("Basic " + QByteArray("admin:pw").toBase64().toStdString());
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        fixture->OpenSheet();
        fixture->Sheet().RouterPage().findChild<QLineEdit*>("loginEdit")->setText("admin");
        Password()->setText("pw");
        Remember()->click();
        fixture->ClickTab("Polling");
        Polling().findChild<QCheckBox*>("startAtLogin")->click();
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(Polling().IsPolling());
        QTRY_COMPARE_WITH_TIMEOUT(m_session.KeyringSecret(RouterKey()).value_or(""),
                                  std::string("pw"), 20000);
        fixture->CloseSheet();

        CTestSheet& sheet = fixture->BuildSheet();
        sheet.Presence().Start(true);
        QVERIFY(!sheet.isVisible() && !sheet.isMinimized());
        QTRY_VERIFY_WITH_TIMEOUT(Polling().IsPolling(), 20000);
        QVERIFY(PollOnce(Polling()));
        QVERIFY2(LogLines().first().endsWith(" - 203.0.113.9"), qPrintable(LogLines().first()));
    }
};

VELMO_DESKTOP_TEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
