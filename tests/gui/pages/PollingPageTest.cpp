// The Polling tab against a loopback router, with ticks given by the test.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>

#include "core/address/DetectScript.h"
#include "support/GuiFixture.h"
#include "support/HostileRouter.h"
#include "support/LoopbackServer.h"

class PollingPageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CGuiFixture> fixture;
    std::unique_ptr<CLoopbackServer> router;

    CPollingPage& Page() { return fixture->Sheet().PollingPage(); }
    QLineEdit* PathBox() { return Page().findChild<QLineEdit*>("pathEdit"); }
    QLineEdit* Excludes() { return Page().findChild<QLineEdit*>("excludesEdit"); }
    QPlainTextEdit* Log() { return Page().findChild<QPlainTextEdit*>("logEdit"); }
    QPushButton* Poll() { return Page().findChild<QPushButton*>("pollButton"); }
    QPushButton* Open() { return Page().findChild<QPushButton*>("openButton"); }
    QRadioButton* Source(const char* name) { return Page().findChild<QRadioButton*>(name); }
    QLabel* GatewayFound() { return Page().findChild<QLabel*>("gatewayFound"); }
    QStringList LogLines() { return fixture->LogLines(); }

    void OpenOnPollingTab(const QString& path = {}, const QString& excludes = {}) {
        CSettingsStore* app = &fixture->Settings();
        app->WriteProfileInt("Router", "Port", router->Port());
        if (!path.isEmpty()) {
            app->WriteProfileString("Polling", "Path", path);
        }
        if (!excludes.isEmpty()) {
            app->WriteProfileString("Polling", "Excludes", excludes);
        }
        fixture->OpenOnTab("Polling");
    }
    // Polls for `ticks` ticks, then stops.
    QStringList PollFor(int ticks) {
        QTest::mouseClick(Poll(), Qt::LeftButton);
        for (int tick = 0; tick < ticks; ++tick) {
            [&] { QVERIFY(PollOnce(Page())); }();
        }
        QTest::mouseClick(Poll(), Qt::LeftButton);
        return LogLines();
    }

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() {
        fixture = std::make_unique<CGuiFixture>();
        router = std::make_unique<CLoopbackServer>();
    }
    void cleanup() {
        fixture.reset();
        router.reset();
    }

    void defaultState() {
        OpenOnPollingTab();
        QCOMPARE(PathBox()->text(), QString());
        QCOMPARE(Excludes()->text(), QString());
        QCOMPARE(Log()->toPlainText(), QString());
        QVERIFY(!Log()->isReadOnly());
        QCOMPARE(Poll()->text(), QStringLiteral("&Poll"));
        QCOMPARE(Open()->text(), QStringLiteral("&Open..."));
        QVERIFY(!Poll()->isEnabled());
        QVERIFY(!Open()->isEnabled());
        QCOMPARE(Source("pollPage")->text(), QStringLiteral("the pa&ge"));
        QCOMPARE(Source("pollRouter")->text(),
                 QStringLiteral("the &router's own answer (UPnP / NAT-PMP)"));
        QVERIFY(Source("pollPage")->isChecked() && !Page().AsksRouter());
        QVERIFY(!GatewayFound()->isVisible());
        const QStringList labels = LabelTexts(Page());
        QVERIFY(labels.contains("Path of &status page (e.g. /status.htm) :"));
        QVERIFY(labels.contains("&Address(es) to exclude (optional):"));
        QVERIFY(labels.contains("&Log:"));
        QVERIFY(labels.contains("Click the Poll button to start the address polling test."));
        QTest::keyClicks(PathBox(), "/s");
        QVERIFY(Poll()->isEnabled() && Open()->isEnabled());
        PathBox()->clear();
        QVERIFY(!Poll()->isEnabled() && !Open()->isEnabled());
    }

    void storedPathAndNormalisedExclusionsShowAtFirstDisplay() {
        OpenOnPollingTab("/status.htm", "198.51.100.10 - 198.51.100.20");
        QCOMPARE(PathBox()->text(), QStringLiteral("/status.htm"));
        QCOMPARE(Excludes()->text(), QStringLiteral("198.51.100.10-198.51.100.20"));
        QVERIFY(Poll()->isEnabled() && Open()->isEnabled());
    }

    void emptyPathIsRefusedOnThisTab() {
        OpenOnPollingTab();
        Page().TogglePolling();
        QCOMPARE(fixture->boxes.size(), 1u);
        QCOMPARE(fixture->boxes[0].text, QStringLiteral("Invalid status page path"));
        QCOMPARE(fixture->boxes[0].icon, MessageIcon::Exclamation);
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Polling"));
        QCOMPARE(QApplication::focusWidget(), PathBox());
        QVERIFY(!Page().IsPolling());
    }

    void invalidRouterAddressRefusesUntilCorrected() {
        OpenOnPollingTab("/status.htm");
        CRouterPage& routerPage = fixture->Sheet().RouterPage();
        routerPage.findChild<CIPAddressCtrl*>("routerAddress")->SetAddress(0x08080808);
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QCOMPARE(fixture->boxes.at(0).text,
                 QStringLiteral("Invalid IP address, local address expected"));
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Router"));
        QVERIFY(!Page().IsPolling());
        routerPage.findChild<CIPAddressCtrl*>("routerAddress")->SetAddress(0x7F000001);
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(Page().IsPolling());
        QCOMPARE(Poll()->text(), QStringLiteral("S&top"));
        QVERIFY(!PathBox()->isEnabled() && !Excludes()->isEnabled() && Log()->isReadOnly());
        QVERIFY(!routerPage.findChild<QLineEdit*>("loginEdit")->isEnabled());
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(routerPage.findChild<QLineEdit*>("loginEdit")->isEnabled());
    }

    void exclusionsAreNormalisedShownAndStoredWhenPollingStarts() {
        OpenOnPollingTab("/status.htm");
        QTest::keyClicks(Excludes(), "198.51.100.10 - 198.51.100.20");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QCOMPARE(Excludes()->text(), QStringLiteral("198.51.100.10-198.51.100.20"));
        QVERIFY(fixture->SettingsText().contains("Excludes=198.51.100.10-198.51.100.20"));
        QVERIFY(fixture->SettingsText().contains("Path=/status.htm"));
        QTest::mouseClick(Poll(), Qt::LeftButton);
    }

    void eachTickLogsTheAddressAsItStoodInThePage() {
        router->Serve("/status.htm", 200, "LAN 192.168.1.1 WAN 198.051.100.002. up");
        OpenOnPollingTab("/status.htm");
        const QStringList lines = PollFor(2);
        const QRegularExpression line(
            QStringLiteral("^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} - "
                           "198\\.051\\.100\\.002$"));
        for (const QString& text : lines) {
            QVERIFY2(line.match(text).hasMatch(), qPrintable(text));
        }
        QCOMPARE(router->Requests().front().target, std::string("/status.htm"));
    }

    // The ticks the other tests give are the page timer's: started at the interval by Poll,
    // stopped by Stop.
    void theTimerGivesTheTicks() {
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        OpenOnPollingTab("/status.htm");
        auto* timer = Page().findChild<QTimer*>("pollTimer");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->intervalAsDuration(), fixture->polling.interval);
        QSignalSpy read(&Page(), &CPollingPage::addressRead);
        timer->setInterval(0);  // its next tick now
        QVERIFY(read.wait(20000));
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(!timer->isActive());
        QVERIFY(LogLines().first().endsWith(" - 203.0.113.9"));
    }

    // A read without an address logs "n/a" and why; with the router's own answer chosen, no path
    // is needed, the router of the Router tab is asked (no other device's answer counts), the
    // gateway that answered is shown, and the choice is kept.
    void failuresLogNotAvailableAndWhy_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("excludes");
        QTest::addColumn<QString>("answer");  // the router's own: "address", "none", "silent"
        QTest::addColumn<QString>("logged");  // after the time
        QTest::addColumn<QString>("notice");  // why, as a notice of a loss says it
        const QString page = "The router's page shows no address";
        QTest::newRow("401") << 401 << "<h1>Unauthorized</h1>"
                             << ""
                             << ""
                             << "n/a: login refused (HTTP 401)"
                             << "The router refused the login (HTTP 401)";
        QTest::newRow("404") << 404 << "<h1>Not Found</h1>"
                             << ""
                             << ""
                             << "n/a: HTTP 404"
                             << "The router answers HTTP 404";
        QTest::newRow("only reserved") << 200 << "10.0.0.1 192.168.1.1 0.0.0.0"
                                       << ""
                                       << ""
                                       << "n/a: no address in the page" << page;
        QTest::newRow("only excluded") << 200 << "WAN 198.51.100.9"
                                       << "198.51.100.*"
                                       << ""
                                       << "n/a: only excluded addresses (198.51.100.9)" << page;
        QTest::newRow("empty body") << 200 << ""
                                    << ""
                                    << ""
                                    << "n/a: empty page" << page;
        QTest::newRow("router's address") << 0 << ""
                                          << ""
                                          << "address"
                                          << "203.0.113.7"
                                          << "";
        QTest::newRow("router has none")
            << 0 << ""
            << ""
            << "none"
            << "n/a: NAT-PMP 192.168.1.1: the router has no internet address of its own"
            << "The router has no internet address of its own";
        QTest::newRow("router silent")
            << 0 << ""
            << ""
            << "silent"
            << "n/a: UPnP IGD search: the router did not answer the search; NAT-PMP "
               "192.168.1.1: timed out"
            << "The router gives no answer by UPnP or NAT-PMP";
    }
    void failuresLogNotAvailableAndWhy() {
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, excludes);
        QFETCH(QString, answer);
        QFETCH(QString, logged);
        QFETCH(QString, notice);
        router->Serve("/status.htm", status, body.toStdString());
        CFakeGateway& gateway = fixture->gateway;
        if (answer == "address") {
            gateway.Answer(GatewayMethod::UpnpIgd, GatewayAnswer::Kind::Address, 0xCB007107u);
        } else if (answer == "none") {
            gateway.Answer(GatewayMethod::NatPmp, GatewayAnswer::Kind::None);
        }
        const bool bRouter = !answer.isEmpty();
        if (bRouter) {
            fixture->Settings().WriteProfileInt("Router", "Address", 0xC0A80101);  // 192.168.1.1
            OpenOnPollingTab({}, excludes);
            QTest::mouseClick(Source("pollRouter"), Qt::LeftButton);
            QVERIFY(GatewayFound()->isVisible());
        } else {
            OpenOnPollingTab("/status.htm", excludes);
        }
        QSignalSpy read(&Page(), &CPollingPage::addressRead);
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QVERIFY(Page().IsPolling());
        QVERIFY(!Source("pollPage")->isEnabled() && !Source("pollRouter")->isEnabled());
        QVERIFY(PollOnce(Page()));
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QCOMPARE(LogLines().value(0).mid(27), logged);
        QCOMPARE(read.at(0).at(2).toString(), notice);
        QCOMPARE(fixture->boxes.size(), 0u);
        if (!bRouter) {
            QCOMPARE(gateway.Questions().size(), 0u);
            return;
        }
        QVERIFY(router->Requests().empty());
        const std::vector<CFakeGateway::Question> asked = gateway.Questions();
        QVERIFY(!asked.empty());
        QCOMPARE(asked[0].target.igdHost, 0xC0A80101u);
        QCOMPARE(GatewayFound()->text(),
                 answer == "silent"
                     ? QStringLiteral("Gateway: none answered")
                     : "Gateway: " + QString::fromStdString(
                                         asked.size() == 1
                                             ? "UPnP IGD http://192.168.1.1:5000/rootDesc.xml"
                                             : "NAT-PMP 192.168.1.1"));
        QVERIFY(fixture->SettingsText().contains("Source=gateway"));
        fixture->CloseSheet();
        OpenOnPollingTab();
        QVERIFY(Page().AsksRouter() && Poll()->isEnabled());
    }

    void unreachableRouterLogsNotAvailable() {
        const std::uint16_t port = router->Port();
        router.reset();
        fixture->Settings().WriteProfileInt("Router", "Port", port);
        fixture->Settings().WriteProfileString("Polling", "Path", "/status.htm");
        fixture->OpenSheet();
        fixture->ClickTab("Polling");
        router = std::make_unique<CLoopbackServer>();
        QVERIFY(PollFor(2).last().endsWith(" - n/a: no answer (refused)"));
    }

    // What the user types goes as UTF-8, as browsers send it.
    void credentialsOfTheRouterTabAreSentAtEachPoll_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("header");
        QTest::newRow("ascii") << "secret"
                               << "Basic YWRtaW46c2VjcmV0";
        QTest::newRow("non-ascii") << QString::fromUtf8(
                                          "s\xC3\xA9"
                                          "cr\xE2\x82\xAC")
                                   << "Basic " + QString::fromLatin1(QByteArray("admin:s\xC3\xA9"
                                                                                "cr\xE2\x82\xAC")
                                                                         .toBase64());
    }
    void credentialsOfTheRouterTabAreSentAtEachPoll() {
        QFETCH(QString, password);
        QFETCH(QString, header);
        router->RequireAuthorization(header.toStdString());
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        // Straight to the router, whatever proxy the environment names.
        const QByteArray noProxy = qgetenv("no_proxy"), upperNoProxy = qgetenv("NO_PROXY");
        qputenv("http_proxy", "http://127.0.0.1:9");
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        const auto restore = qScopeGuard([noProxy, upperNoProxy] {
            qunsetenv("http_proxy");
            qputenv("no_proxy", noProxy);
            qputenv("NO_PROXY", upperNoProxy);
        });
        OpenOnPollingTab("/status.htm");
        fixture->Sheet().RouterPage().findChild<QLineEdit*>("loginEdit")->setText("admin");
        fixture->Sheet().RouterPage().findChild<QLineEdit*>("passwordEdit")->setText(password);
        QVERIFY(PollFor(1).front().endsWith(" - 203.0.113.9"));
    }

    // A router that logs in by its form: one login for all the ticks of a polling session; a
    // refused one logged with its reason, and after two ticks in a row none tried until polling
    // starts again.
    void aFormLoginKeepsItsSessionAcrossTicksAndARefusedOneLogsWhy() {
        auto posts = std::make_shared<std::atomic<int>>(0);
        router->Route([posts](const CLoopbackServer::Request& request) {
            CLoopbackServer::Page page;
            if (request.method == "POST") {
                ++*posts;
                page.status = 302;
                page.headers = {{"Location", "/status.htm"}};
                if (request.body == "user=admin&pass=secret") {
                    page.headers.emplace_back("Set-Cookie", "sid=1");
                }
            } else {
                page.body = request.Header("Cookie") == "sid=1"
                                ? "WAN 203.0.113.9"
                                : "<form method=post><input name=user><input type=password "
                                  "name=pass></form>";
            }
            return std::optional(page);
        });
        OpenOnPollingTab("/status.htm");
        CRouterPage& routerTab = fixture->Sheet().RouterPage();
        routerTab.findChild<QLineEdit*>("loginEdit")->setText("admin");
        routerTab.findChild<QLineEdit*>("passwordEdit")->setText("secret");
        for (const QString& line : PollFor(3)) {
            QVERIFY2(line.endsWith(" - 203.0.113.9"), qPrintable(line));
        }
        QCOMPARE(posts->load(), 1);
        routerTab.findChild<QLineEdit*>("passwordEdit")->setText("wrong");
        const QString refused = "n/a: login refused (the login page came back)";
        const QString stopped =
            "n/a: login refused (no more logins after two refused in a row, "
            "until polling starts again)";
        const QStringList lines = PollFor(3);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0].mid(27), refused);
        QCOMPARE(lines[1].mid(27), refused);
        QCOMPARE(lines[2].mid(27), stopped);
        QCOMPARE(posts->load(), 3);
        QCOMPARE(fixture->boxes.size(), 0u);
    }

    void stoppingKeepsTheLogAndStartingAgainClearsIt() {
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        OpenOnPollingTab("/status.htm");
        const QStringList lines = PollFor(1);
        QCOMPARE(LogLines(), lines);
        QVERIFY(Log()->isEnabled() && !Log()->isReadOnly());
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QCOMPARE(Log()->toPlainText(), QString());
        QTest::mouseClick(Poll(), Qt::LeftButton);
    }

    void pollIsDisabledWhileASpiderRunIsInProgress() {
        fixture->DetectSlowly();
        OpenOnPollingTab("/status.htm");
        QVERIFY(Poll()->isEnabled());
        fixture->ClickTab("Status");
        QTest::mouseClick(fixture->Sheet().StatusPage().findChild<QPushButton*>("runButton"),
                          Qt::LeftButton);
        QVERIFY(fixture->Sheet().StatusPage().IsRunning());
        fixture->ClickTab("Polling");
        QVERIFY(!Poll()->isEnabled());
        QTest::keyClicks(PathBox(), "x");
        QVERIFY(Poll()->isEnabled());
        fixture->CloseSheet();
    }

    void runIsDisabledOnTheStatusTabWhilePolling() {
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        OpenOnPollingTab("/status.htm");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        fixture->ClickTab("Status");
        QVERIFY(!fixture->Sheet().StatusPage().findChild<QPushButton*>("runButton")->isEnabled());
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        fixture->ClickTab("Status");
        QVERIFY(fixture->Sheet().StatusPage().findChild<QPushButton*>("runButton")->isEnabled());
    }

    void openHandsThePageUrlToTheDesktop() {
        OpenOnPollingTab("/status.htm?x=1");
        QTest::mouseClick(Open(), Qt::LeftButton);
        QCOMPARE(
            fixture->opened,
            QStringList{"http://127.0.0.1:" + QString::number(router->Port()) + "/status.htm?x=1"});
        QVERIFY(!Page().IsPolling());
    }

    // The page double-clicked is polled, though the router's own answer was chosen.
    void doubleClickInTheStatusListStartsAndStopsPolling() {
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        OpenOnPollingTab();
        Page().SetAsksRouter(true);
        fixture->ClickTab("Status");
        CSpiderPage& status = fixture->Sheet().StatusPage();
        status.OnPageFound("/status.htm");
        auto* list = status.findChild<CUrlListCtrl*>("pageList");
        const QPoint cell = list->visualRect(list->model()->index(0, 0)).center();
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Polling"));
        QVERIFY(Page().IsPolling() && !Page().AsksRouter());
        QCOMPARE(PathBox()->text(), QStringLiteral("/status.htm"));
        QVERIFY(PollOnce(Page()));
        QCOMPARE(router->Requests().size(), 1u);
        fixture->ClickTab("Status");
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell);
        QVERIFY(!Page().IsPolling());
    }

    // The window keeps turning while a read stalls, of the page or of the router's own answer:
    // ticks that find it running (at least 20, given by the test, with an interval long enough to
    // let the read go on) neither wait for it nor start a second read. Stop and closing end the
    // read in flight at once.
    void aStalledReadNeverHoldsUpTheWindow_data() {
        QTest::addColumn<bool>("asksRouter");
        QTest::newRow("page") << false;
        QTest::newRow("router's own answer") << true;
    }
    void aStalledReadNeverHoldsUpTheWindow() {
        QFETCH(bool, asksRouter);
        router->Serve("/status.htm", CLoopbackServer::Stalling());
        fixture->gateway.bHold = true;
        // The reads begun: the page's requests, or the first question of each to the router.
        const auto begun = [&] {
            return asksRouter ? fixture->gateway.Questions().size() : router->Requests().size();
        };
        OpenOnPollingTab("/status.htm");
        Page().SetAsksRouter(asksRouter);
        QTest::mouseClick(Poll(), Qt::LeftButton);
        QElapsedTimer clock;
        qint64 longest = 0;
        int ticks = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, this, [&] {
            longest = std::max(longest, clock.restart());
            Page().OnTimer();
            ++ticks;
        });
        clock.start();
        beat.start(0);
        // A turn that waited on the read ends the wait at once: each step of it might wait again.
        QTRY_VERIFY_WITH_TIMEOUT(
            (begun() == 1u && ticks > 200) || std::max(longest, clock.elapsed()) >= 1000, 20000);
        beat.stop();
        longest = std::max(longest, clock.elapsed());  // since the last turn
        qInfo("longest event-loop gap over %d ticks during a stalled read: %lld ms", ticks,
              longest);
        QVERIFY2(longest < 1000, "the window waited for the read");
        QVERIFY(Page().IsReading());
        QCOMPARE(begun(), 1u);

        clock.restart();
        QTest::mouseClick(Poll(), Qt::LeftButton);
        const qint64 stopping = clock.elapsed();
        qInfo("Stop took %lld ms", stopping);
        QVERIFY2(stopping < 1000, "Stop waited for the read");
        QVERIFY(!Page().IsReading());
        QTest::mouseClick(Poll(), Qt::LeftButton);
        Page().OnTimer();
        QTRY_COMPARE_WITH_TIMEOUT(begun(), 2u, 20000);
        QVERIFY(LogLines().isEmpty());
        clock.restart();
        fixture->CloseSheet();
        const qint64 closing = clock.elapsed();
        qInfo("Close took %lld ms", closing);
        QVERIFY2(closing < 1000, "closing waited for the read");
    }

    // A router that sends a byte at a time would hold a read past the next tick, which would then
    // have no line: each read ends within half the interval instead. The page's timer is stopped,
    // so the ticks are only those the test gives.
    void aTricklingRouterGetsALineAtEveryTick() {
        CHostileRouter hostile;
        hostile.Serve("/status.htm", CHostileRouter::Drip(std::string(100000, ' ') + "203.0.113.9",
                                                          std::chrono::milliseconds(5)));
        fixture->Settings().WriteProfileInt("Router", "Port", hostile.Port());
        fixture->Settings().WriteProfileString("Polling", "Path", "/status.htm");
        fixture->polling.interval = std::chrono::milliseconds(400);
        fixture->OpenSheet();
        fixture->ClickTab("Polling");
        QTest::mouseClick(Poll(), Qt::LeftButton);
        Page().findChild<QTimer*>("pollTimer")->stop();
        for (int tick = 1; tick <= 3; ++tick) {
            QVERIFY(PollOnce(Page()));
            QCOMPARE(LogLines().size(), tick);
            QVERIFY2(LogLines().last().endsWith(" - n/a: incomplete page (timed out)"),
                     qPrintable(LogLines().last()));
        }
        QTest::mouseClick(Poll(), Qt::LeftButton);
    }

    // Path bytes 0x80-0xFF: typed characters up to U+00FF are those bytes; text with anything
    // beyond goes as UTF-8.
    void typedPathsGoOutAsTheirBytes_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("target");
        QTest::newRow("latin-1") << QString::fromUtf8("/st\xC3\xBC.htm") << "/st%FC.htm";
        QTest::newRow("beyond latin-1")
            << QString::fromUtf8("/\xE2\x82\xAC\xC3\xBC") << "/%E2%82%AC%C3%BC";
    }
    void typedPathsGoOutAsTheirBytes() {
        QFETCH(QString, path);
        QFETCH(QString, target);
        OpenOnPollingTab();
        PathBox()->setText(path);
        QTest::mouseClick(Open(), Qt::LeftButton);
        QCOMPARE(fixture->opened.value(0), router->Url(target.toStdString()).c_str());
        PollFor(1);
        QCOMPARE(router->Requests().front().target, target.toStdString());
    }

    // The page needs no sheet: any router target and desktop will do.
    void pageStandsAloneWithItsOwnRouterTarget() {
        struct Target : IRouterTarget {
            bool ValidateAndSave() override { return true; }
            void EnableControls(bool bEnable) override { enabled << bEnable; }
            std::string LoginBytes() const override { return {}; }
            std::string PasswordBytes() const override { return {}; }
            std::uint32_t Address() const override { return 0x7F000001; }
            std::int32_t Port() const override { return port; }
            QList<bool> enabled;
            std::int32_t port = 0;
        } target;
        target.port = router->Port();
        router->Serve("/alone.htm", 200, "WAN 203.0.113.9");
        CPollingPage page(fixture->Settings(), target, *fixture, {}, fixture->polling);
        QList<bool> states;
        connect(&page, &CPollingPage::pollingChanged, this, [&](bool bOn) { states << bOn; });
        page.show();
        page.EnsureInitialized();
        page.findChild<QLineEdit*>("pathEdit")->setText("/alone.htm");
        QTest::mouseClick(page.findChild<QPushButton*>("pollButton"), Qt::LeftButton);
        QVERIFY(PollOnce(page));
        QVERIFY(page.findChild<QPlainTextEdit*>("logEdit")->toPlainText().contains("203.0.113.9"));
        QTest::mouseClick(page.findChild<QPushButton*>("pollButton"), Qt::LeftButton);
        QCOMPARE(target.enabled, QList<bool>({false, true}));
        QCOMPARE(states, QList<bool>({true, false}));
    }

    void timeFieldIsTwentyFourCharactersWide() {
        router->Serve("/status.htm", 200, "WAN 203.0.113.9");
        OpenOnPollingTab("/status.htm");
        const QString line = PollFor(1).front();
        QCOMPARE(line.indexOf(" - "), 24);
    }
};

QTEST_MAIN(PollingPageTest)
#include "PollingPageTest.moc"
