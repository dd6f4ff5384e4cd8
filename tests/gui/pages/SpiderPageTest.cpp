// The Status tab driving whole spider runs against loopback routers and detection servers.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include <thread>

#include "core/address/DetectScript.h"
#include "core/spider/SpiderParams.h"
#include "gui/app/VelmoApp.h"
#include "support/GuiFixture.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/TlsRouter.h"
#include "support/Wait.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMO_TEST_UNDER_ASAN
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELMO_TEST_UNDER_ASAN
#endif

namespace {

// A line of /proc/self/status in KiB, such as "VmRSS:" or "VmHWM:".
long MemoryKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(static_cast<qsizetype>(std::strlen(field)))
                .trimmed()
                .split(' ')[0]
                .toLong();
        }
    }
    return -1;
}

// From here on VmHWM is the peak since now.
void ResetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

}  // namespace

class SpiderPageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CGuiFixture> fixture;
    std::unique_ptr<CLoopbackServer> router;
    std::unique_ptr<CLoopbackServer> detection;
    std::unique_ptr<QTemporaryDir> temp;
    QByteArray savedTemp;

    CSpiderPage& Page() { return fixture->Sheet().StatusPage(); }
    QPushButton* Run() { return Page().findChild<QPushButton*>("runButton"); }
    CUrlListCtrl* List() { return Page().findChild<CUrlListCtrl*>("pageList"); }
    CHyperLink* Link() { return Page().findChild<CHyperLink*>("reportLink"); }
    QString Count() { return Page().findChild<QLabel*>("parsedCount")->text(); }
    CAddressDisplay* Address() { return Page().findChild<CAddressDisplay*>("detectedAddress"); }
    QCheckBox* Deep() { return Page().findChild<QCheckBox*>("deepCheck"); }
    QStringList Items() {
        QStringList items;
        for (int row = 0; row < List()->GetItemCount(); ++row) {
            items << List()->GetItemText(row);
        }
        return items;
    }

    // Opens the sheet aimed at the loopback router and brings the Status tab forward.
    void OpenOnStatusTab() {
        fixture->Settings().WriteProfileInt("Router", "Port", router->Port());
        fixture->OpenSheet();
        fixture->ClickTab("Status");
    }
    void RunToTheEnd() {
        QTest::mouseClick(Run(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsRunning(), 20000);
    }
    QString Report() {
        QFile file(Page().ReportFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QByteArray ReportTail() {
        QFile file(Page().ReportFile());
        if (!file.open(QIODevice::ReadOnly) ||
            !file.seek(std::max<qint64>(0, file.size() - 1024))) {
            return {};
        }
        return file.readAll();
    }
    // Clicks "View parsed pages" and waits until the report is written.
    void ViewReport() {
        QTest::mouseClick(Link(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsWritingReport(), 60000);
    }
    // The files in the temporary folder, which init() makes the test's own.
    QStringList TemporaryFiles() {
        return QDir(temp->path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() {
        temp = std::make_unique<QTemporaryDir>();
        savedTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp->path().toLocal8Bit());
        fixture = std::make_unique<CGuiFixture>();
        router = std::make_unique<CLoopbackServer>();
        detection = std::make_unique<CLoopbackServer>();
        detection->Serve("/", 200, "Current IP Address: 203.0.113.45");
        fixture->detectionServers = {detection->Url("/")};
    }
    void cleanup() {
        fixture.reset();
        router.reset();
        detection.reset();
        savedTemp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", savedTemp);
        temp.reset();
    }

    void defaultState() {
        OpenOnStatusTab();
        QCOMPARE(Run()->text(), QStringLiteral("&Run"));
        QVERIFY(Run()->isEnabled());
        QCOMPARE(Count(), QStringLiteral("0"));
        QCOMPARE(Link()->Text(), QStringLiteral("View parsed pages"));
        QCOMPARE(Link()->Target(), QString());
        QCOMPARE(Address()->text(), QString());
        QCOMPARE(List()->columnCount(), 1);
        QCOMPARE(List()->horizontalHeaderItem(0)->text(), QStringLiteral("Path to status page"));
        QVERIFY(List()->showGrid());
        QCOMPARE(List()->selectionBehavior(), QAbstractItemView::SelectRows);
        const QStringList labels = LabelTexts(Page());
        QVERIFY(labels.contains("&Detected IP address:"));
        QVERIFY(labels.contains("&Parsed pages:"));
        QVERIFY(
            labels.contains("Click Run to start the status page identification (spider) test."));
        QVERIFY(labels.contains("TCP ports 7777 and 8245 must be opened in your firewall."));
        QCOMPARE(Page().ReportFile(), QString());
        QCOMPARE(Deep()->text(), QStringLiteral("Search &scripts too"));
        QVERIFY(Deep()->isEnabled() && !Deep()->isChecked());
        // After the controls of old, in the tab order.
        QApplication::setActiveWindow(&fixture->Sheet());
        Run()->setFocus();
        for (QWidget* next : std::initializer_list<QWidget*>{Link(), List(), Deep()}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void runFindsEachStatusPageOnceIgnoringLetterCase() {
        router->Serve("/", 200, "<a href=Status.htm>S</a> <a href=status.htm>s</a> <a href=x.htm>");
        router->Serve("/Status.htm", 200, "WAN 203.0.113.45");
        router->Serve("/status.htm", 200, "WAN 203.0.113.45");
        OpenOnStatusTab();
        QTest::mouseClick(Run(), Qt::LeftButton);
        QCOMPARE(Run()->text(), QStringLiteral("&Cancel"));
        QVERIFY(!List()->isEnabled());
        QVERIFY(!Link()->isEnabled());
        QVERIFY(!fixture->Sheet().RouterPage().findChild<QLineEdit*>("loginEdit")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsRunning(), 20000);
        QCOMPARE(Run()->text(), QStringLiteral("&Run"));
        QCOMPARE(Address()->GetAddress(), 0xCB00712Du);
        QCOMPARE(Address()->text(), QStringLiteral("203.0.113.45"));
        QCOMPARE(Items(), QStringList{"/Status.htm"});
        QCOMPARE(Count(), QStringLiteral("4"));
        QVERIFY(List()->isEnabled() && Link()->isEnabled());
        QVERIFY(fixture->Sheet().RouterPage().findChild<QLineEdit*>("loginEdit")->isEnabled());
        QCOMPARE(fixture->boxes.size(), 1u);
        QCOMPARE(fixture->boxes[0].text,
                 QStringLiteral("A status page was identified. Please select a path and click the "
                                "Polling tab."));
        QCOMPARE(fixture->boxes[0].icon, MessageIcon::Information);
        QVERIFY(fixture->SettingsText().contains("Port=" + QString::number(router->Port())));
    }

    // Over https the router's key is asked about once, in a box whose Cancel is the default and
    // sends nothing; Trust remembers it in the file velmo-cli shares and makes the run again; a
    // changed key is refused loudly, and nothing is sent to it either. Polling uses the trusted
    // key and no other.
    void httpsRouterIsTrustedByItsKeyOnFirstUse() {
        CTlsRouter tls;
        tls.Serve("/index.html", "<a href=\"status.htm\">s</a>");
        tls.Serve("/status.htm", "WAN 203.0.113.45");
        const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", (temp->path() + "/config").toLocal8Bit());
        const QString file = temp->path() + "/config/velmo/known-routers";
        const QString https = "https://127.0.0.1:" + QString::number(tls.Port());
        const std::string firstPin = tls.Pin();
        fixture->Settings().WriteProfileInt("Router", "UseHttps", 1);
        fixture->Settings().WriteProfileString("Router", "Login", "admin");
        fixture->Settings().WriteProfileInt("Router", "Port", tls.Port());
        fixture->OpenSheet();
        CRouterPage& routerPage = fixture->Sheet().RouterPage();
        auto* useHttps = routerPage.findChild<QCheckBox*>("useHttps");
        QVERIFY(useHttps->isChecked());
        QCOMPARE(useHttps->text(), QStringLiteral("Use &HTTPS"));
        routerPage.findChild<QLineEdit*>("passwordEdit")->setText("secret");
        fixture->ClickTab("Status");

        const struct {
            const char* what;
            bool bTrust;
            QString box;     // how the last box begins
            QString detail;  // held in its note
            bool bQuestion;
            bool bReached;
            QStringList items;
        } steps[] = {
            {"cancelled",
             false,
             "The router at " + https +
                 " shows a certificate key that is not "
                 "trusted yet. Nothing was sent to it.",
             "Fingerprint: " + QString::fromStdString(tls.Pin()) + "\nSubject: CN = router1.test",
             true,
             false,
             {}},
            {"trusted", true, "A status page was identified.", "", false, true, {"/status.htm"}},
            {"known", false, "A status page was identified.", "", false, true, {"/status.htm"}},
            {"changed",
             true,
             "THE CERTIFICATE KEY OF THE ROUTER AT " + https + " HAS CHANGED",
             "Remembered: " + QString::fromStdString(tls.Pin()),
             false,
             false,
             {}},
        };
        // One reading of the Polling tab; whether it reached the router.
        const auto poll = [&](const QString& ending, bool& bReached) {
            fixture->Settings().WriteProfileString("Polling", "Path", "/status.htm");
            fixture->Sheet()
                .PollingPage()
                .findChild<QLineEdit*>("pathEdit")
                ->setText("/status.htm");
            const std::size_t before = tls.Requests().size();
            auto* button = fixture->Sheet().PollingPage().findChild<QPushButton*>("pollButton");
            QTest::mouseClick(button, Qt::LeftButton);
            QVERIFY(fixture->Sheet().PollingPage().IsPolling());
            QVERIFY(PollOnce(fixture->Sheet().PollingPage()));
            QVERIFY2(fixture->LogLines().last().endsWith(ending),
                     qPrintable(fixture->LogLines().last()));
            QTest::mouseClick(button, Qt::LeftButton);
            bReached = tls.Requests().size() > before;
        };
        for (const auto& step : steps) {
            if (std::string(step.what) == "changed") {
                bool bReached = false;
                poll(" - 203.0.113.45", bReached);
                QVERIFY(bReached);
                tls.ChangeKey();
                poll("n/a: KEY CHANGED, nothing sent", bReached);
                QVERIFY(!bReached);
            }
            fixture->boxes.clear();
            fixture->bPressAction = step.bTrust;
            const std::size_t before = tls.Requests().size();
            RunToTheEnd();
            QVERIFY2(!fixture->boxes.empty(), step.what);
            const CGuiFixture::Box& box = fixture->boxes.back();
            QVERIFY2(box.text.startsWith(step.box), qPrintable(box.text));
            QVERIFY2(box.detail.contains(step.detail), qPrintable(box.detail));
            QCOMPARE(box.bQuestion, step.bQuestion);
            QCOMPARE(tls.Requests().size() > before, step.bReached);
            QCOMPARE(Items(), step.items);
            if (std::string(step.what) == "trusted") {
                ViewReport();
                QVERIFY(Report().contains("<p>Read over https from " + https + "/</p>"));
            }
        }
        // The trusted key is remembered; the changed one neither replaced it nor was asked about.
        QFile known(file);
        QVERIFY(known.open(QIODevice::ReadOnly));
        QCOMPARE(known.readAll(), "127.0.0.1:" + QByteArray::number(tls.Port()) + " " +
                                      QByteArray::fromStdString(firstPin) + "\n");
        // Saved unticked as ticked.
        useHttps->setChecked(false);
        QVERIFY(routerPage.ValidateAndSave());
        QVERIFY(fixture->SettingsText().contains("UseHttps=0"));
        savedConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME")
                             : qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    // The real box that asks about a key: Trust and Cancel, Enter and Escape both cancel, only
    // Trust itself trusts.
    void keyQuestionCancelsUnlessTrustIsPressed() {
        QWidget owner;
        owner.show();
        for (const auto& [key, bExpected] :
             {std::pair{Qt::Key_Return, false}, std::pair{Qt::Key_Escape, false},
              std::pair{Qt::Key_T, true}}) {
            QStringList buttons;
            QTimer::singleShot(0, this, [&, key = key] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr) {
                    return;  // the box did not come up: the comparison below fails
                }
                QAbstractButton* trust = nullptr;
                for (QAbstractButton* button : box->buttons()) {
                    buttons << button->text();
                    trust = button->text() == "&Trust" ? button : trust;
                }
                if (key == Qt::Key_T && trust != nullptr) {
                    QTest::mouseClick(trust, Qt::LeftButton);
                } else if (key == Qt::Key_T) {
                    box->reject();
                } else {
                    QTest::keyClick(box, key);
                }
            });
            QCOMPARE(SystemDesktop().ShowQuestion(&owner, "new key", "fingerprint", "&Trust"),
                     bExpected);
            buttons.sort();
            QCOMPARE(buttons, (QStringList{"&Trust", "Cancel"}));
        }
    }

    // A run that read pages and found nothing offers the deeper search once the gateway has
    // nothing to say; the next window remembers the choice. A refused login is named instead.
    void runWithoutAMatchingPage() {
        const QString offer = QStringLiteral(
            "A deeper search may find it: select \"Search scripts too\" and click Run again.");
        router->Serve("/", 200, "nothing to see <script>go('menu/st.asp')</script>");
        router->Serve("/menu/st.asp", 200, "WAN 203.0.113.45");
        OpenOnStatusTab();
        RunToTheEnd();
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 2u, 20000);
        QCOMPARE(fixture->boxes.at(0).text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes.at(0).icon, MessageIcon::Exclamation);
        QCOMPARE(fixture->boxes.at(0).detail, QString());
        QCOMPARE(fixture->boxes.at(1).text, offer);
        QCOMPARE(fixture->boxes.at(1).icon, MessageIcon::Information);
        QCOMPARE(Count(), QStringLiteral("1"));

        QTest::keyClick(Deep(), Qt::Key_Space);
        QTest::mouseClick(Run(), Qt::LeftButton);
        QVERIFY(!Deep()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsRunning(), 20000);
        QVERIFY(Deep()->isEnabled());
        QCOMPARE(Items(), QStringList{"/menu/st.asp"});
        QCOMPARE(fixture->boxes.at(2).icon, MessageIcon::Information);
        QCOMPARE(fixture->boxes.at(2).detail, QString());

        fixture->CloseSheet();
        OpenOnStatusTab();
        QVERIFY(Deep()->isChecked());
        router->Serve("/menu/st.asp", 200, "LAN only");
        auto* check = Page().findChild<CGatewayCheck*>("gatewayCheck");
        QSignalSpy answered(check, &CGatewayCheck::answered);
        RunToTheEnd();
        QCOMPARE(fixture->boxes.at(3).text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes.at(3).detail, QString());

        QTest::keyClick(Deep(), Qt::Key_Space);
        router->RequireAuthorization("Basic none");
        RunToTheEnd();
        QCOMPARE(fixture->boxes.at(4).text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes.at(4).detail,
                 QStringLiteral("The router refused the login (HTTP 401): check the login and the "
                                "password on the Router tab."));
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, 20000);
        QCOMPARE(fixture->boxes.size(), 5u);
    }

    // The router's own answer explains the failure in a second box; a page showing a shared
    // address does when the gateway says nothing; closing the window abandons the question.
    void gatewayExplainsAFailedRunInASecondBox() {
        router->Serve("/", 200, "<a href=wan.htm>WAN</a>");
        router->Serve("/wan.htm", 200, "WAN 100.64.12.7 DNS 100.64.0.53");
        CFakeGateway& gateway = fixture->gateway;
        gateway.Answer(GatewayMethod::NatPmp, GatewayAnswer::Kind::None);
        OpenOnStatusTab();
        RunToTheEnd();
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 2u, 20000);
        QCOMPARE(fixture->boxes[0].text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes[1].text,
                 QStringLiteral("Your router has no internet address of its own: your provider's "
                                "carrier-grade NAT or another router stands in front of it, so no "
                                "page of this router can show your public address 203.0.113.45."));
        QCOMPARE(fixture->boxes[1].icon, MessageIcon::Information);
        const std::vector<CFakeGateway::Question> asked = gateway.Questions();
        QCOMPARE(asked.size(), 2u);
        QVERIFY(asked[0].method == GatewayMethod::UpnpIgd);
        QCOMPARE(asked[1].target.natpmpGateway, 0x7F000001u);

        gateway.Answer(GatewayMethod::NatPmp, GatewayAnswer::Kind::NoAnswer);
        RunToTheEnd();
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 4u, 20000);
        QCOMPARE(fixture->boxes[3].text,
                 QStringLiteral("Your router's internet address is 100.64.12.7, a carrier-grade "
                                "NAT address shared by your provider: no page of this router can "
                                "show your public address 203.0.113.45."));

        // The router's address is the public one: nothing to explain, but the router can be
        // polled for it.
        gateway.Answer(GatewayMethod::UpnpIgd, GatewayAnswer::Kind::Address, 0xCB00712Du);
        auto* check = Page().findChild<CGatewayCheck*>("gatewayCheck");
        QSignalSpy answered(check, &CGatewayCheck::answered);
        RunToTheEnd();
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 1, 20000);
        QCOMPARE(answered[0][0].toString(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 6u, 20000);
        QCOMPARE(fixture->boxes[5].action, QStringLiteral("&Poll the router's own answer"));

        // The router alone explains it, with no page showing its WAN address: the first box
        // offers no deeper search.
        router->Serve("/wan.htm", 200, "LAN only");
        gateway.Answer(GatewayMethod::UpnpIgd, GatewayAnswer::Kind::None);
        RunToTheEnd();
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 8u, 20000);
        QCOMPARE(fixture->boxes[6].text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes[6].detail, QString());
        QCOMPARE(fixture->boxes[7].text, fixture->boxes[1].text);

        router->Serve("/wan.htm", 200, "WAN 100.64.12.7");
        gateway.bHold = true;
        const std::size_t before = gateway.Questions().size();
        RunToTheEnd();
        QTRY_COMPARE(gateway.Questions().size(), before + 1);
        fixture->CloseSheet();  // returns once the question is abandoned; a hang fails the test
        QCOMPARE(gateway.Abandoned(), 1);
        QCOMPARE(fixture->boxes.size(), 9u);
    }

    // The box after the outcome's comes in the same turn of the window as that one, so no key
    // meant for it reaches the window: the gateway, asked while the run went on, has answered by
    // then. After a refused login nothing follows the refusal, whatever the gateway says, and
    // after Quit at the outcome's box nothing at all. A router that tells a public WAN address of
    // its own is offered for polling, one whose address is shared is not: the box's button brings
    // the Polling tab forward with the router's own answer chosen, and starts nothing.
    void followUpComesAtOnceAndNeverContradictsTheRefusal_data() {
        QTest::addColumn<int>("status");       // of the router's only page
        QTest::addColumn<bool>("shared");      // the gateway has no address of its own
        QTest::addColumn<QString>("second");   // the box after the outcome's; empty: none
        QTest::addColumn<bool>("quit");        // Quit while the outcome's box is up
        QTest::addColumn<quint32>("address");  // the gateway's own, if it tells one
        QTest::addColumn<bool>("offered");     // the second box offers to poll the router
        QTest::addColumn<QString>("body");     // of that page
        const QString shared = QStringLiteral(
            "Your router has no internet address of its own: your provider's carrier-grade NAT or "
            "another router stands in front of it, so no page of this router can show your public "
            "address 203.0.113.45.");
        QTest::newRow("deeper search") << 200 << false
                                       << "A deeper search may find it: select \"Search scripts "
                                          "too\" and click Run again."
                                       << false << 0u << false << "nothing to see";
        QTest::newRow("gateway explains")
            << 200 << true << shared << false << 0u << false << "nothing to see";
        QTest::newRow("gateway tells another address")
            << 200 << false
            << "Your router's internet address is 198.51.100.7, not your public address "
               "203.0.113.45: this computer reaches the internet another way (a VPN, a proxy or a "
               "second line), so no page of this router can show 203.0.113.45."
            << false << 0xC6336407u << true << "nothing to see";
        QTest::newRow("gateway tells the public address")
            << 200 << false
            << "Your router tells its internet address 203.0.113.45 itself (UPnP / NAT-PMP), "
               "though none of its pages showed it: Velmo can poll the router's own answer "
               "instead of a page."
            << false << 0xCB00712Du << true << "nothing to see";
        QTest::newRow("gateway tells a shared address")
            << 200 << false
            << "Your router's internet address is 100.64.0.9, a carrier-grade NAT address shared "
               "by your provider: no page of this router can show your public address "
               "203.0.113.45."
            << false << 0x64400009u << false << "nothing to see";
        QTest::newRow("401") << 401 << true << "" << false << 0u << false << "nothing to see";
        QTest::newRow("403") << 403 << true << "" << false << 0u << false << "nothing to see";
        QTest::newRow("quit") << 200 << true << "" << true << 0u << false << "nothing to see";
        // A login form in place of the start page that does not let Velmo in: a refused login.
        QTest::newRow("login form") << 200 << true << "" << false << 0u << false
                                    << "<form method=post><input name=u><input type=password "
                                       "name=p></form>";
    }
    void followUpComesAtOnceAndNeverContradictsTheRefusal() {
        QFETCH(int, status);
        QFETCH(bool, shared);
        QFETCH(QString, second);
        QFETCH(bool, quit);
        QFETCH(quint32, address);
        QFETCH(bool, offered);
        QFETCH(QString, body);
        if (address != 0) {
            fixture->gateway.Answer(GatewayMethod::UpnpIgd, GatewayAnswer::Kind::Address, address);
        }
        fixture->bPressAction = true;
        std::atomic<bool> release{false};  // the page waits until the gateway has answered
        router->ServeOthers([&, body](const std::string&) {
            WaitUntil([&] { return release.load(); });
            CLoopbackServer::Page page;
            page.status = status;
            page.body = body.toStdString();
            return page;
        });
        if (shared) {
            fixture->gateway.Answer(GatewayMethod::NatPmp, GatewayAnswer::Kind::None);
        }
        OpenOnStatusTab();
        if (quit) {
            fixture->whileBoxIsUp = [&] { fixture->Sheet().Presence().Quit(); };
        }
        auto* check = Page().findChild<CGatewayCheck*>("gatewayCheck");
        QTest::mouseClick(Run(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(check->HasAnswer(), 20000);
        QVERIFY(Page().IsRunning());
        std::size_t boxesAtOnce = 0;
        connect(&Page(), &CSpiderPage::runningChanged, this, [&](bool bRunning) {
            QMetaObject::invokeMethod(
                this, [&] { boxesAtOnce = fixture->boxes.size(); }, Qt::QueuedConnection);
            QVERIFY(!bRunning);
        });
        release = true;
        QTRY_VERIFY_WITH_TIMEOUT(boxesAtOnce > 0, 20000);
        QCoreApplication::processEvents();
        QCOMPARE(boxesAtOnce, fixture->boxes.size());
        QCOMPARE(fixture->boxes.at(0).text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes[0].detail.contains(QString::number(status)), status != 200);
        QCOMPARE(fixture->boxes[0].detail.startsWith("The router refused the login ("),
                 status != 200 || body.contains("password"));
        QCOMPARE(fixture->boxes.size(), second.isEmpty() ? 1u : 2u);
        QCOMPARE(fixture->boxes.back().text, second.isEmpty() ? fixture->boxes[0].text : second);
        QCOMPARE(fixture->boxes.back().action,
                 offered ? QStringLiteral("&Poll the router's own answer") : QString());
        CPollingPage& polling = fixture->Sheet().PollingPage();
        QCOMPARE(fixture->ActiveTab(), offered ? QStringLiteral("Polling") : "Status");
        QCOMPARE(polling.AsksRouter(), offered);
        QVERIFY(!polling.IsPolling());
        if (offered) {
            QCOMPARE(QApplication::focusWidget(), polling.findChild<QPushButton*>("pollButton"));
        }
    }

    // A run leaves the keyboard where the next step is, whatever had the focus when it started
    // (Alt+R leaves it there): on Cancel while it runs, then on the pages found, else on Run, so
    // that Enter, twice, never closes the window.
    void focusAfterARunIsOnTheNextStep_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("start");  // the control with the focus at Run
        QTest::addColumn<QString>("focus");  // after the run
        for (const QString& start : {QStringLiteral("pageList"), QStringLiteral("deepCheck")}) {
            QTest::addRow("found, from %s", qPrintable(start))
                << "WAN 203.0.113.45" << start << "pageList";
            QTest::addRow("not found, from %s", qPrintable(start)) << "LAN" << start << "runButton";
        }
    }
    void focusAfterARunIsOnTheNextStep() {
        QFETCH(QString, page);
        QFETCH(QString, start);
        QFETCH(QString, focus);
        router->Serve("/", 200, page.toStdString());
        OpenOnStatusTab();
        QApplication::setActiveWindow(&fixture->Sheet());
        Page().findChild<QWidget*>(start)->setFocus();
        Run()->click();
        QCOMPARE(QApplication::focusWidget(), Run());
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsRunning(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!fixture->boxes.empty(), 20000);
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        for (int enter = 0; enter < 2; ++enter) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QVERIFY(fixture->Sheet().isVisible());
        }
        if (focus == "pageList") {
            QCOMPARE(fixture->Sheet().PollingPage().Path(), QStringLiteral("/"));
        }
    }

    void failedDetectionShowsNoAddress() {
        detection->Serve("/", 200, "no address here");
        router->Serve("/", 200, "WAN 203.0.113.45");
        OpenOnStatusTab();
        RunToTheEnd();
        QCOMPARE(fixture->boxes.at(0).text,
                 QStringLiteral("Unable to autodetect your external IP address. Please make sure "
                                "that you are connected to the Internet."));
        QCOMPARE(Address()->text(), QStringLiteral("0.0.0.0"));
        QVERIFY(router->Requests().empty());
        QCOMPARE(Count(), QStringLiteral("0"));
    }

    void cancelWinsOverEverythingAndTheCaptionWaitsForTheWorker() {
        router->Serve("/", 200, "<a href=slow.htm> 203.0.113.45");
        router->Serve("/slow.htm", CLoopbackServer::Stalling());
        OpenOnStatusTab();
        QTest::mouseClick(Run(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(router->Requests().size(), 2u, 20000);
        QTest::mouseClick(Run(), Qt::LeftButton);
        QCOMPARE(Run()->text(), QStringLiteral("&Cancel"));
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsRunning(), 20000);
        QCOMPARE(Items(), QStringList{"/"});
        QCOMPARE(fixture->boxes.size(), 1u);
        QCOMPARE(fixture->boxes[0].text, QStringLiteral("The test was cancelled"));
        QCOMPARE(router->Requests().size(), 2u);

        // The next run clears the flag and the list.
        router->Serve("/", 200, "plain");
        RunToTheEnd();
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 3u,
                                  20000);  // and the offer of the deeper search
        QCOMPARE(fixture->boxes[1].text, QStringLiteral("Unable to identify the status page"));
        QVERIFY(Items().isEmpty());
    }

    void refusedRunLeavesThePageAsItWas() {
        OpenOnStatusTab();
        Page().OnPageFound("/kept.htm");
        fixture->Sheet().RouterPage().findChild<QLineEdit*>("portEdit")->setText("0");
        QTest::mouseClick(Run(), Qt::LeftButton);
        QCOMPARE(fixture->boxes.at(0).text, QStringLiteral("Invalid TCP port number"));
        QCOMPARE(Run()->text(), QStringLiteral("&Run"));
        QCOMPARE(Items(), QStringList{"/kept.htm"});
        QVERIFY(!Page().IsRunning());
    }

    void workerMessagesAreHandledInOrderWhicheverTabShows() {
        fixture->OpenSheet();
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Router"));
        std::thread worker([&] {
            ISpiderSink& sink = fixture->Sheet();
            sink.Post(WM_SPIDER_ADDRESS, "198.51.100.7");
            sink.Post(WM_SPIDER_FOUND, "/a.htm");
            sink.Post(WM_SPIDER_PARSED, {});
            sink.Post(WM_SPIDER_FOUND, "/A.HTM");
            sink.Post(WM_SPIDER_FOUND, "/b.htm");
            sink.Post(WM_SPIDER_PARSED, {});
            sink.Post(WM_SPIDER_DONE, {});
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(fixture->boxes.size(), 1u, 20000);
        QCOMPARE(Items(), QStringList({"/a.htm", "/b.htm"}));
        QCOMPARE(Count(), QStringLiteral("2"));
        QCOMPARE(Address()->GetAddress(), 0xC6336407u);
        QCOMPARE(fixture->boxes[0].icon, MessageIcon::Information);
    }

    void invalidAddressTextShowsAllOnes() {
        fixture->OpenSheet();
        Page().OnAddressDetected("not an address");
        QCOMPARE(Address()->GetAddress(), 0xFFFFFFFFu);
        QCOMPARE(Address()->text(), QStringLiteral("255.255.255.255"));
    }

    void clickingAListedPathHandsItToThePollingTab() {
        OpenOnStatusTab();
        Page().OnPageFound("/status.htm");
        Page().OnPageFound("/other.htm");
        const QRect second = List()->visualRect(List()->model()->index(1, 0));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(fixture->Sheet().PollingPage().Path(), QStringLiteral("/other.htm"));
        List()->setCurrentCell(0, 0);
        QTest::keyClick(List(), Qt::Key_Return);
        QCOMPARE(fixture->Sheet().PollingPage().Path(), QStringLiteral("/status.htm"));
    }

    void reportListsEveryParsedPageEscaped() {
        router->Serve("/", 200, "<a href=\"a.htm?x=1&y=<2>\"> <a href=b.htm>");
        OpenOnStatusTab();
        ViewReport();
        QCOMPARE(fixture->opened, QStringList{Page().ReportFile()});
        QVERIFY(Report().contains("<p>\r\n</p>"));

        RunToTheEnd();
        ViewReport();
        const QString report = Report();
        QVERIFY(report.startsWith(
            "<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>Velmo</title>"));
        QVERIFY(report.contains("<p>\r\n/a.htm?x=1&amp;y=&lt;2&gt;<br>\r\n/b.htm<br>\r\n</p>"));
        QVERIFY(report.endsWith("</html>"));
        ViewReport();
        QCOMPARE(Report(), report);
        QCOMPARE(fixture->beeps, 0);
    }

    void reportFileThatCannotBeWrittenBeepsAndALinkInItsPlaceIsNotFollowed() {
        OpenOnStatusTab();
        ViewReport();
        const QString path = Page().ReportFile();
        QFile::remove(path);
        QVERIFY(QDir().mkdir(path));  // nothing can be renamed over a folder, not even by root
        ViewReport();
        QCOMPARE(fixture->beeps, 1);
        QCOMPARE(fixture->opened.size(), 1);
        QVERIFY(QDir().rmdir(path));

        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("keep.txt"));
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
        file.close();
        QVERIFY(QFile::link(target, path));
        ViewReport();
        QCOMPARE(fixture->beeps, 1);
        QCOMPARE(fixture->opened, QStringList({path, path}));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
        fixture->CloseSheet();
        QVERIFY(!QFileInfo::exists(path));
    }

    // Made private in the temporary folder at the first click, reused, removed with the window.
    void reportFileIsMadeOnFirstUseAndRemovedWithTheWindow() {
        OpenOnStatusTab();
        QCOMPARE(TemporaryFiles(), QStringList());
        ViewReport();
        const QString path = Page().ReportFile();
        const QFileInfo report(path);
        QCOMPARE(report.path(), temp->path());
        QVERIFY(report.fileName().startsWith("vel") && report.fileName().endsWith(".htm"));
        QCOMPARE(report.permissions() &
                     ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
        ViewReport();
        QCOMPARE(Page().ReportFile(), path);
        QCOMPARE(TemporaryFiles(), QStringList{report.fileName()});
        fixture->CloseSheet();
        QCOMPARE(TemporaryFiles(), QStringList());
    }

    // A list as long crawls leave it: the report streams from it on a thread of its own while the
    // window turns, Run waits for it, and closing the window stops it.
    void reportOfAHugeListKeepsTheWindowTurning() {
        OpenOnStatusTab();
        // Filled here as a crawl of an endless tree fills it; the run's list is not const.
        auto& list = const_cast<CParsedPageList&>(Page().ParsedPages());
#ifdef VELMO_TEST_UNDER_ASAN
        constexpr int kPaths = 40000;  // unoptimised and checked, each path costs 25 times more
#else
        constexpr int kPaths = 400000;  // long enough that closing at once says something
#endif
        const std::string stem = "/" + std::string(300, 'd') + "/";
        for (int i = 0; i < kPaths; ++i) {
            list.CheckParsedPage(stem + std::to_string(i) + ".htm");
        }
        const long baseline = MemoryKiB("VmRSS:");
        ResetPeakMemory();

        // The report is written beside its file, under a hidden name, then renamed over it.
        const auto underWay = [&] {
            for (const QFileInfo& file :
                 QDir(temp->path()).entryInfoList(QDir::Files | QDir::Hidden)) {
                if (file.fileName().startsWith('.') && file.size() > 0) {
                    return true;
                }
            }
            return false;
        };
        QElapsedTimer clock;
        QElapsedTimer writing;
        qint64 longest = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, this,
                [&] { longest = std::max(longest, clock.restart()); });
        writing.start();
        clock.start();
        beat.start(0);
        QTest::mouseClick(Link(), Qt::LeftButton);
        QVERIFY(Page().IsWritingReport());
        QVERIFY(!Run()->isEnabled() && !Link()->isEnabled());
        Page().EnableRun(true);  // as when polling stops
        QVERIFY(!Run()->isEnabled());
        Page().OnRun();
        QVERIFY(!Page().IsRunning());
        Page().OnViewParsedPages();                   // no second writer
        QTRY_VERIFY_WITH_TIMEOUT(underWay(), 20000);  // seen while the window turns
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsWritingReport(), 120000);
        beat.stop();
        longest = std::max(longest, clock.elapsed());  // since the last turn
        const qint64 took = writing.elapsed();
        const long grewKiB = MemoryKiB("VmHWM:") - baseline;
        qInfo(
            "report of %d paths: %lld ms; longest event-loop gap %lld ms; peak grew %ld KiB "
            "over a list of %zu KiB",
            kPaths, took, longest, grewKiB, list.MemoryBytes() / 1024);
        QCOMPARE(fixture->opened, QStringList{Page().ReportFile()});
        QVERIFY(Run()->isEnabled() && Link()->isEnabled());
        QVERIFY(router->Requests().empty());
        const QByteArray tail = ReportTail();
        QVERIFY(tail.contains(stem + std::to_string(kPaths - 1) + ".htm<br>\r\n</p>"));
        QVERIFY(tail.endsWith("</html>"));
        QVERIFY2(longest < 1000, "the window waited for the report");
#ifndef VELMO_TEST_UNDER_ASAN
        QVERIFY2(grewKiB < static_cast<long>(list.MemoryBytes() / 1024) + 50 * 1024,
                 "the report stood whole in memory");
#endif

        // Closed once the writer is under way: it stops at its flag, nothing it wrote stays,
        // nothing opens.
        QTest::mouseClick(Link(), Qt::LeftButton);
        QVERIFY(Page().IsWritingReport());
        QTRY_VERIFY_WITH_TIMEOUT(underWay(), 20000);
        clock.restart();
        fixture->CloseSheet();
        const qint64 closing = clock.elapsed();
        qInfo("closing while the report was written took %lld ms", closing);
        QVERIFY2(closing < 1000, "closing waited for the whole report");
        QCoreApplication::processEvents();
        QCOMPARE(fixture->opened.size(), 1);
        QCOMPARE(fixture->beeps, 0);
        QCOMPARE(TemporaryFiles(), QStringList());
    }

    void closingDuringARunEndsPromptly() {
        router->Serve("/", CLoopbackServer::Stalling());
        OpenOnStatusTab();
        QTest::mouseClick(Run(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(router->Requests().size(), 1u, 20000);
        fixture->CloseSheet();  // returns once the worker has let go; a hang fails the test
        QVERIFY(fixture->boxes.empty());
    }

    // Every byte of a path the router sent reaches the list, the Polling tab, the settings and the
    // polling request unchanged. Links are short, so the bytes 0x80-0xFF come in four paths.
    void pathBytesSurviveTheWindow() {
        std::string links = "<a href=\"/st\xFC.htm\"> <a href=\"/st\xFD.htm\">";
        QStringList paths{QString::fromLatin1("/st\xFC.htm"), QString::fromLatin1("/st\xFD.htm")};
        QStringList targets;
        for (int first = 0x80; first <= 0xFF; first += 32) {
            std::string path = "/b";
            QString target = "/b";
            for (int byte = first; byte < first + 32; ++byte) {
                path += static_cast<char>(byte);
                target += QStringLiteral("%%1").arg(byte, 2, 16).toUpper();
            }
            links += "<a href=\"" + path + "\">";
            paths << QString::fromLatin1(path.data(), static_cast<qsizetype>(path.size()));
            targets << target;
        }
        router->Serve("/", 200, links);
        router->ServeOthers([](const std::string&) {
            CLoopbackServer::Page page;
            page.body = "WAN 203.0.113.45";
            return page;
        });
        OpenOnStatusTab();
        RunToTheEnd();
        QCOMPARE(Items(), paths);
        auto* poll = fixture->Sheet().PollingPage().findChild<QPushButton*>("pollButton");
        for (int row = 2; row < paths.size(); ++row) {
            List()->setCurrentCell(row, 0);
            QTest::keyClick(List(), Qt::Key_Return);
            fixture->ClickTab("Polling");
            QTest::mouseClick(poll, Qt::LeftButton);
            QCOMPARE(fixture->Settings().GetProfileString("Polling", "Path"), paths[row]);
            QVERIFY(PollOnce(fixture->Sheet().PollingPage()));
            QCOMPARE(router->RequestedTargets().back(), targets[row - 2].toStdString());
            QTest::mouseClick(poll, Qt::LeftButton);
            fixture->ClickTab("Status");
        }
    }

    // The user's list, one file read alike by the window at start-up and by velmo-cli, which only
    // prints the list it would use. A [Detection] section in the window's settings is read by
    // neither. A list that is there but gives no server is an error in both, never the built-in
    // ten: a box at Run, exit 64.
    void detectionListIsTheSameForTheWindowAndVelmoCli_data() {
        QTest::addColumn<QByteArray>("text");      // "A" and "B" stand for two loopback servers
        QTest::addColumn<QString>("kind");         // what stands at the path
        QTest::addColumn<QStringList>("servers");  // empty: the built-in ten, or none
        QTest::addColumn<int>("warnings");
        QTest::addColumn<QString>("unusable");  // why the list gives no server
        QTest::newRow("none") << QByteArray() << "none" << QStringList() << 0 << QString();
        QTest::newRow("comments, blank lines, CR LF")
            << QByteArray("\xEF\xBB\xBF# mine\r\n\r\n  A  \r\n\t# B\r\nBx\t# mine too\r\n")
            << "file" << QStringList{"A", "Bx"} << 0 << QString();
        QTest::newRow("bad entries skipped")
            << QByteArray("ftp://127.0.0.1/\nhttp://user@127.0.0.1/\nA # note\nB\nhttps://h/\n")
            << "file" << QStringList{"A", "B"} << 3 << QString();
        QTest::newRow("skipped lines summarised after three")
            << QByteArray("ftp://1/\nftp://2/\nB\nftp://3/\nftp://4/\nftp://5/\n") << "file"
            << QStringList{"B"} << 4 << QString();
        QTest::newRow("nothing usable")
            << QByteArray("# only\nhttp://127.0.0.1/?q\n") << "file" << QStringList() << 1
            << "No usable detection server in it.";
        QTest::newRow("a fragment, not a comment")
            << QByteArray("A#mine\n") << "file" << QStringList() << 1
            << "No usable detection server in it.";
        QTest::newRow("empty") << QByteArray() << "file" << QStringList() << 0
                               << "No usable detection server in it.";
        QTest::newRow("1 MiB exactly")
            << QByteArray() << "1 MiB" << QStringList{"A"} << 0 << QString();
        QTest::newRow("over 1 MiB, never cut")
            << QByteArray() << "1 MiB + 1" << QStringList() << 0 << "Larger than 1 MiB.";
        QTest::newRow("FIFO") << QByteArray() << "fifo" << QStringList() << 0
                              << "Not a regular file.";
        QTest::newRow("folder") << QByteArray() << "folder" << QStringList() << 0
                                << "Not a regular file.";
    }
    void detectionListIsTheSameForTheWindowAndVelmoCli() {
        QFETCH(QByteArray, text);
        QFETCH(QString, kind);
        QFETCH(QStringList, servers);
        QFETCH(int, warnings);
        QFETCH(QString, unusable);
        CLoopbackServer second;
        second.Serve("/x", 200, "198.51.100.2");
        const QByteArray a = QByteArray::fromStdString(detection->Url("/")).chopped(1);
        const QByteArray b = QByteArray::fromStdString(second.Url("/")).chopped(1);
        const auto spelled = [&](QByteArray line) {
            return line.replace("Bx", b + "/x").replace('B', b).replace('A', a);
        };
        text = spelled(text);
        if (kind.startsWith("1 MiB")) {
            // A comment line long enough that "A" on the next line ends the file at the size.
            const qsizetype size = 1024 * 1024 + (kind.endsWith("+ 1") ? 1 : 0);
            text = QByteArray(size - a.size() - 1, '#') + '\n' + a;
            kind = "file";
        }

        QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkpath("velmo") && QDir(config.path()).mkpath("Ravik"));
        QFile ini(config.filePath("Ravik/Velmo.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Detection]\nServers=" + b + "/x\n");
        ini.close();
        const QString path = config.filePath("velmo/servers");
        if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        } else if (kind == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        }
        QStringList expected;
        for (const QString& server : servers) {
            expected << QString::fromLatin1(spelled(server.toLatin1()));
        }
        if (expected.isEmpty() && unusable.isEmpty()) {
            const CDetectScript builtIn;
            for (const std::string& server : builtIn.Servers()) {
                expected << QString::fromStdString(server);
            }
        }

        // The window: start-up reads the list; what it skips goes to standard error.
        const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        QStringList windowWarnings;
        {
            CCapturedStderr err;
            const SheetEnvironment environment = CVelmoApp::StartupEnvironment();
            fixture->detectionServers = environment.detectionServers;
            fixture->unusableServersFile = environment.unusableServersFile;
            fixture->unusableServersWhy = environment.unusableServersWhy;
            windowWarnings = err.Lines("velmo: ");
        }
        savedConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME")
                             : qputenv("XDG_CONFIG_HOME", savedConfig);
        QStringList window;
        OpenOnStatusTab();
        if (unusable.isEmpty()) {
            for (const std::string& server : fixture->Sheet().Detector().Servers()) {
                window << QString::fromStdString(server);
            }
        } else {
            QTest::mouseClick(Run(), Qt::LeftButton);
            QVERIFY(!Page().IsRunning());
            QCOMPARE(fixture->boxes.size(), 1u);
            QCOMPARE(fixture->boxes[0].text,
                     "Unable to use the detection servers listed in " + path +
                         ". Please correct the file, or remove it to use the built-in servers.");
            QCOMPARE(fixture->boxes[0].detail, unusable);
            QCOMPARE(fixture->boxes[0].icon, MessageIcon::Exclamation);
            QVERIFY(detection->Requests().empty() && router->Requests().empty());
        }

        const ProcessResult cli = RunProgram({VELMO_CLI, "detect", "--test-list-servers"}, {}, {},
                                             {"XDG_CONFIG_HOME=" + config.path().toStdString()},
                                             false, std::chrono::seconds(60));
        QVERIFY2(!cli.bKilled, "velmo-cli waited on the file");
        QStringList asked;
        for (const std::string& line : cli.Lines()) {
            asked << QString::fromStdString(line);
        }
        QStringList cliWarnings = QString::fromStdString(cli.err).split('\n');
        cliWarnings.removeAll(QString());
        cliWarnings.replaceInStrings(QRegularExpression("^velmo-cli: "), QString());
        if (!unusable.isEmpty()) {
            QCOMPARE(cli.status, 64);
            QVERIFY(!cliWarnings.isEmpty());
            QCOMPARE(cliWarnings.takeLast(),
                     path + ": " + unusable.front().toLower() + unusable.mid(1).chopped(1) +
                         "; correct it, or remove it to use the built-in servers");
        }

        QCOMPARE(window, expected);
        QCOMPARE(asked, expected);
        QCOMPARE(windowWarnings, cliWarnings);
        QCOMPARE(windowWarnings.size(), warnings);
        for (const QString& warning : windowWarnings) {
            QVERIFY2(warning.startsWith(path + ": "), qPrintable(warning));
        }
        if (warnings > 3) {
            QCOMPARE(windowWarnings.back(), path + ": and 2 more lines skipped");
        }
    }

    void hyperlinkWithoutTargetTellsItsParent() {
        OpenOnStatusTab();
        int clicks = 0;
        connect(Link(), &CHyperLink::clicked, this, [&] { ++clicks; });
        QApplication::setActiveWindow(&fixture->Sheet());
        Link()->setFocus();
        QTest::keyClick(Link(), Qt::Key_Space);
        QTRY_VERIFY(!Page().IsWritingReport());
        QTest::mouseClick(Link(), Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(fixture->beeps, 0);
    }

    void hyperlinkWithTargetOpensItOrBeeps() {
        fixture->OpenSheet();
        CHyperLink link(QStringLiteral("example"), *fixture);
        link.SetTarget(QStringLiteral("http://www.velmo.example/"));
        int clicks = 0;
        connect(&link, &CHyperLink::clicked, this, [&] { ++clicks; });
        QTest::mouseClick(&link, Qt::LeftButton);
        QCOMPARE(fixture->opened, QStringList{"http://www.velmo.example/"});
        fixture->bOpenSucceeds = false;
        QTest::keyClick(&link, Qt::Key_Space);
        QCOMPARE(fixture->beeps, 1);
        QCOMPARE(clicks, 0);
        QCOMPARE(link.toolTip(), QStringLiteral("http://www.velmo.example/"));
    }

    void hyperlinkDrawsHoverDisabledAndSizesToItsText() {
        fixture->OpenSheet();
        CHyperLink link(QStringLiteral("View parsed pages"), *fixture);
        QVERIFY(link.font().underline());
        QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link.TextColour(), link.palette().color(QPalette::Link));
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(&link, &enter);
        QCOMPARE(link.TextColour(), QColor(255, 0, 0));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&link, &leave);
        QCOMPARE(link.TextColour(), link.palette().color(QPalette::Link));
        link.setEnabled(false);
        QCOMPARE(link.TextColour(), link.palette().color(QPalette::Disabled, QPalette::WindowText));
        QVERIFY(link.font().underline());
        const QFontMetricsF metrics(link.font());
        QCOMPARE(link.width(),
                 static_cast<int>(std::ceil(metrics.horizontalAdvance("View parsed pages"))) + 4);
        QCOMPARE(link.focusPolicy(), Qt::StrongFocus);
    }
};

QTEST_MAIN(SpiderPageTest)
#include "SpiderPageTest.moc"
