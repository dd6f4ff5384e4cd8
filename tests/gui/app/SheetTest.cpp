// The sheet between its pages: guarded tab switches, keys that must not close it, boxes owned by
// it, and buttons that follow the other test's state.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cmath>

#include "support/GuiFixture.h"
#include "support/LoopbackServer.h"

namespace {

// Records, each time a page is shown, whether it had been initialised.
class CShowWatch : public QObject {
public:
    QStringList uninitialisedShows;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* page = qobject_cast<CPropertyPage*>(watched);
        if (event->type() == QEvent::Show && page != nullptr && !page->IsInitialized()) {
            uninitialisedShows << page->Caption();
        }
        return false;
    }
};

}  // namespace

class SheetTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CGuiFixture> fixture;

    QTabWidget* Tabs() { return fixture->Sheet().findChild<QTabWidget*>("tabs"); }
    QLineEdit* Port() { return fixture->Sheet().RouterPage().findChild<QLineEdit*>("portEdit"); }

private Q_SLOTS:
    void initTestCase() { InitGuiTestProcess(); }
    void init() { fixture = std::make_unique<CGuiFixture>(); }
    void cleanup() { fixture.reset(); }

    void refusedSwitchKeepsTheRouterTabInFront_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("click") << "click";
        QTest::newRow("ctrl+tab") << "ctrl+tab";
        QTest::newRow("arrow on the tab bar") << "arrow";
    }
    void refusedSwitchKeepsTheRouterTabInFront() {
        QFETCH(QString, how);
        CTestSheet& sheet = fixture->OpenSheet();
        QApplication::setActiveWindow(&sheet);
        CShowWatch watch;
        for (int i = 0; i < Tabs()->count(); ++i) {
            Tabs()->widget(i)->installEventFilter(&watch);
        }
        Port()->clear();
        if (how == "click") {
            fixture->ClickTab("Status");
        } else if (how == "ctrl+tab") {
            QTest::keyClick(Port(), Qt::Key_Tab, Qt::ControlModifier);
        } else {
            Tabs()->tabBar()->setFocus();
            QTest::keyClick(Tabs()->tabBar(), Qt::Key_Right);
        }
        QCOMPARE(fixture->boxes.size(), 1u);
        QCOMPARE(fixture->boxes[0].text, QStringLiteral("Please enter an integer."));
        QCOMPARE(fixture->boxes[0].activeTab, QStringLiteral("Router"));
        QCOMPARE(fixture->boxes[0].shownPage, QStringLiteral("Router"));
        QVERIFY(!sheet.StatusPage().IsInitialized());

        QTest::keyClicks(Port(), "80");
        fixture->ClickTab("Status");
        QCOMPARE(fixture->ShownPage(), QStringLiteral("Status"));
        QTest::keyClick(sheet.StatusPage().findChild<QPushButton*>("runButton"), Qt::Key_Tab,
                        Qt::ControlModifier);
        QCOMPARE(fixture->ShownPage(), QStringLiteral("Polling"));
        fixture->ClickTab("About");
        QCOMPARE(watch.uninitialisedShows, QStringList());
    }

    // The font grows with the desktop's scale: at the default size no text is cut and the Router
    // fields keep the proportions of their contents.
    void defaultSizeFitsEveryTextAndKeepsFieldProportions_data() {
        QTest::addColumn<double>("scale");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("1.5x") << 1.5;
    }
    void defaultSizeFitsEveryTextAndKeepsFieldProportions() {
        QFETCH(double, scale);
        const QFont original = QApplication::font();
        QFont font = original;
        font.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(font);
        CTestSheet& sheet = fixture->OpenSheet();
        for (int i = 0; i < Tabs()->count(); ++i) {
            fixture->ClickTab(Tabs()->tabText(i));
            QCoreApplication::processEvents();
            QWidget* page = Tabs()->widget(i);
            for (QLabel* label : page->findChildren<QLabel*>()) {
                if (!label->wordWrap() && !qobject_cast<CIPAddressCtrl*>(label->parentWidget())) {
                    QVERIFY2(label->width() >= label->sizeHint().width(),
                             qPrintable(label->text()));
                }
            }
            for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
            }
        }
        QApplication::setFont(original);
        auto width = [&](const char* name) {
            return double(sheet.RouterPage().findChild<QWidget*>(name)->width());
        };
        QVERIFY(std::abs(width("loginEdit") - width("passwordEdit")) <= 1);
        QVERIFY2(std::abs(width("routerAddress") / width("portEdit") - 105.0 / 55) < 0.1,
                 "address and port keep their proportion");
    }

    void enterOnAListRowHandsThePathOverAndKeepsTheWindowOpen() {
        CTestSheet& sheet = fixture->OpenSheet();
        QApplication::setActiveWindow(&sheet);
        fixture->ClickTab("Status");
        sheet.StatusPage().OnPageFound("/a.htm");
        auto* list = sheet.StatusPage().findChild<CUrlListCtrl*>("pageList");
        list->setFocus();
        list->setCurrentCell(0, 0);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(sheet.PollingPage().Path(), QStringLiteral("/a.htm"));
        QVERIFY(sheet.isVisible());
    }

    void endOfARunReachesTheOtherTabAndItsBoxTheWindowAtOnce() {
        CLoopbackServer router;
        CLoopbackServer detection;
        router.Serve("/", CLoopbackServer::Stalling());
        detection.Serve("/", 200, "Current IP Address: 203.0.113.45");
        fixture->detectionServers = {detection.Url("/")};
        fixture->Settings().WriteProfileInt("Router", "Port", router.Port());
        fixture->Settings().WriteProfileString("Polling", "Path", "/status.htm");
        CTestSheet& sheet = fixture->OpenSheet();
        auto* run = sheet.StatusPage().findChild<QPushButton*>("runButton");
        auto* poll = sheet.PollingPage().findChild<QPushButton*>("pollButton");
        fixture->ClickTab("Status");
        QTest::mouseClick(run, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(router.Requests().size(), 1u, 20000);
        fixture->ClickTab("Polling");
        QVERIFY(!poll->isEnabled());

        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        sheet.StatusPage().OnRun();  // Cancel
        QTRY_VERIFY_WITH_TIMEOUT(!sheet.StatusPage().IsRunning(), 20000);
        QCOMPARE(fixture->ActiveTab(), QStringLiteral("Polling"));
        QVERIFY(poll->isEnabled());
        QCOMPARE(fixture->boxes.size(), 1u);
        QCOMPARE(fixture->boxes[0].window, &sheet);

        QTest::mouseClick(poll, Qt::LeftButton);
        QVERIFY(!run->isEnabled());
        QTest::mouseClick(poll, Qt::LeftButton);
        QVERIFY(run->isEnabled());
    }
};

QTEST_MAIN(SheetTest)
#include "SheetTest.moc"
