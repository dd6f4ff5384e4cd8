// The Status tab driving whole spider runs against loopback routers and detection servers.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cmath>

#include <thread>

#include "core/address/DetectScript.h"
#include "gui/app/VelmoApp.h"
#include "support/GuiFixture.h"
#include "support/LoopbackServer.h"

class SpiderPageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CGuiFixture> fixture;
    std::unique_ptr<CLoopbackServer> router;
    std::unique_ptr<CLoopbackServer> detection;

    CSpiderPage& Page() { return fixture->Sheet().StatusPage(); }
    QPushButton* Run() { return Page().findChild<QPushButton*>("runButton"); }
    CUrlListCtrl* List() { return Page().findChild<CUrlListCtrl*>("pageList"); }
    CHyperLink* Link() { return Page().findChild<CHyperLink*>("reportLink"); }
    QString Count() { return Page().findChild<QLabel*>("parsedCount")->text(); }
    CIPAddressCtrl* Address() { return Page().findChild<CIPAddressCtrl*>("detectedAddress"); }
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

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() {
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
    }

    void defaultState() {
        OpenOnStatusTab();
        QCOMPARE(Run()->text(), QStringLiteral("&Run"));
        QVERIFY(Run()->isEnabled());
        QCOMPARE(Count(), QStringLiteral("0"));
        QCOMPARE(Link()->Text(), QStringLiteral("View parsed pages"));
        QCOMPARE(Link()->Target(), QString());
        QVERIFY(!Address()->isEnabled());
        QCOMPARE(List()->columnCount(), 1);
        QCOMPARE(List()->horizontalHeaderItem(0)->text(), QStringLiteral("Path to status page"));
        QVERIFY(List()->showGrid());
        QCOMPARE(List()->selectionBehavior(), QAbstractItemView::SelectRows);
        QStringList labels;
        for (QLabel* label : Page().findChildren<QLabel*>()) {
            labels << label->text();
        }
        QVERIFY(labels.contains("&Detected IP address:"));
        QVERIFY(labels.contains("&Parsed pages:"));
        QVERIFY(
            labels.contains("Click Run to start the status page identification (spider) test."));
        QVERIFY(labels.contains("TCP ports 7777 and 8245 must be opened in your firewall."));
        QCOMPARE(Deep()->text(), QStringLiteral("Search &scripts too"));
        QVERIFY(Deep()->isEnabled() && !Deep()->isChecked());
        // After the controls of old, in the tab order.
        QApplication::setActiveWindow(&fixture->Sheet());
        Run()->setFocus();
        for (QWidget* next : std::initializer_list<QWidget*>{Link(), List(), Deep()}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        const QFileInfo report(Page().ReportFile());
        QVERIFY(report.fileName().startsWith("vel"));
        QVERIFY(report.fileName().endsWith(".htm"));
        QCOMPARE(report.permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
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

    // A run that read pages and found nothing offers the deeper search, which the next window
    // remembers.
    void runWithoutAMatchingPage() {
        router->Serve("/", 200, "nothing to see <script>go('menu/st.asp')</script>");
        router->Serve("/menu/st.asp", 200, "WAN 203.0.113.45");
        OpenOnStatusTab();
        RunToTheEnd();
        QCOMPARE(fixture->boxes.at(0).text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes.at(0).icon, MessageIcon::Exclamation);
        QCOMPARE(fixture->boxes.at(0).detail,
                 QStringLiteral("A deeper search may find it: select \"Search scripts too\" and "
                                "click Run again."));
        QCOMPARE(Count(), QStringLiteral("1"));

        QTest::keyClick(Deep(), Qt::Key_Space);
        QTest::mouseClick(Run(), Qt::LeftButton);
        QVERIFY(!Deep()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!Page().IsRunning(), 20000);
        QVERIFY(Deep()->isEnabled());
        QCOMPARE(Items(), QStringList{"/menu/st.asp"});
        QCOMPARE(fixture->boxes.at(1).icon, MessageIcon::Information);
        QCOMPARE(fixture->boxes.at(1).detail, QString());

        fixture->CloseSheet();
        OpenOnStatusTab();
        QVERIFY(Deep()->isChecked());
        router->Serve("/menu/st.asp", 200, "LAN only");
        RunToTheEnd();
        QCOMPARE(fixture->boxes.at(2).text, QStringLiteral("Unable to identify the status page"));
        QCOMPARE(fixture->boxes.at(2).detail, QString());
    }

    void failedDetectionShowsNoAddress() {
        detection->Serve("/", 200, "no address here");
        router->Serve("/", 200, "WAN 203.0.113.45");
        OpenOnStatusTab();
        RunToTheEnd();
        QCOMPARE(fixture->boxes.at(0).text,
                 QStringLiteral("Unable to autodetect your external IP address. Please make sure "
                                "that you are connected to the Internet."));
        QCOMPARE(Address()->Field(0)->text() + "." + Address()->Field(3)->text(),
                 QStringLiteral("0.0"));
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
        QCOMPARE(fixture->boxes.back().text, QStringLiteral("Unable to identify the status page"));
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
        QTRY_COMPARE(fixture->boxes.size(), 1u);
        QCOMPARE(Items(), QStringList({"/a.htm", "/b.htm"}));
        QCOMPARE(Count(), QStringLiteral("2"));
        QCOMPARE(Address()->GetAddress(), 0xC6336407u);
        QCOMPARE(fixture->boxes[0].icon, MessageIcon::Information);
    }

    void invalidAddressTextShowsAllOnes() {
        fixture->OpenSheet();
        Page().OnAddressDetected("not an address");
        QCOMPARE(Address()->GetAddress(), 0xFFFFFFFFu);
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
        QTest::mouseClick(Link(), Qt::LeftButton);
        QCOMPARE(fixture->opened, QStringList{Page().ReportFile()});
        QVERIFY(Report().contains("<p>\r\n</p>"));

        RunToTheEnd();
        QTest::mouseClick(Link(), Qt::LeftButton);
        const QString report = Report();
        QVERIFY(report.startsWith(
            "<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>Velmo</title>"));
        QVERIFY(report.contains("<p>\r\n/a.htm?x=1&amp;y=&lt;2&gt;<br>\r\n/b.htm<br>\r\n</p>"));
        QVERIFY(report.endsWith("</html>"));
        QTest::mouseClick(Link(), Qt::LeftButton);
        QCOMPARE(Report(), report);
        QCOMPARE(fixture->beeps, 0);
    }

    void reportFileThatCannotBeWrittenBeepsAndALinkInItsPlaceIsNotFollowed() {
        OpenOnStatusTab();
        const QString path = Page().ReportFile();
        QFile::remove(path);
        QVERIFY(QDir().mkdir(path));  // nothing can be renamed over a folder, not even by root
        QTest::mouseClick(Link(), Qt::LeftButton);
        QCOMPARE(fixture->beeps, 1);
        QVERIFY(fixture->opened.isEmpty());
        QVERIFY(QDir().rmdir(path));

        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("keep.txt"));
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
        file.close();
        QVERIFY(QFile::link(target, path));
        QTest::mouseClick(Link(), Qt::LeftButton);
        QCOMPARE(fixture->beeps, 1);
        QCOMPARE(fixture->opened, QStringList{path});
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
        fixture->CloseSheet();
        QVERIFY(!QFileInfo::exists(path));
    }

    void reportFileIsRemovedWithTheWindow() {
        OpenOnStatusTab();
        QTest::mouseClick(Link(), Qt::LeftButton);
        const QString path = Page().ReportFile();
        QVERIFY(QFile::exists(path));
        fixture->CloseSheet();
        QVERIFY(!QFile::exists(path));
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
        fixture->polling.interval = std::chrono::milliseconds(5);
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
            const std::string target = targets[row - 2].toStdString();
            QTRY_VERIFY_WITH_TIMEOUT(router->RequestedTargets().back() == target, 20000);
            QTest::mouseClick(poll, Qt::LeftButton);
            fixture->ClickTab("Status");
        }
    }

    void userDetectionServersReplaceTheBuiltInOnes() {
        QVERIFY(CVelmoApp::StartupEnvironment(fixture->Settings()).detectionServers.empty());
        QDir().mkpath(QFileInfo(fixture->SettingsPath()).path());
        QFile file(fixture->SettingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("[Detection]\nServers=ftp://127.0.0.1/, " + detection->Url("/") +
                    ", http://user@127.0.0.1/\n")
                       .c_str());
        file.close();
        const SheetEnvironment environment = CVelmoApp::StartupEnvironment(fixture->Settings());
        QCOMPARE(environment.detectionServers, std::vector<std::string>{detection->Url("/")});
        const auto stored = fixture->Settings().GetProfileList("Detection", "Servers");
        QCOMPARE(stored.size(), 3u);

        detection->Serve("/", 200, "Current IP Address: 198.51.100.77");
        router->Serve("/", 200, "WAN 198.51.100.77");
        fixture->detectionServers = environment.detectionServers;
        OpenOnStatusTab();
        RunToTheEnd();
        QCOMPARE(Address()->GetAddress(), 0xC633644Du);
        QCOMPARE(fixture->Settings().GetProfileList("Detection", "Servers"), stored);
    }

    void hyperlinkWithoutTargetTellsItsParent() {
        OpenOnStatusTab();
        int clicks = 0;
        connect(Link(), &CHyperLink::clicked, this, [&] { ++clicks; });
        QApplication::setActiveWindow(&fixture->Sheet());
        Link()->setFocus();
        QTest::keyClick(Link(), Qt::Key_Space);
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
