// The sheet between its pages: guarded tab switches, the keyboard's way through it, what screen
// readers find in it, keys that must not close it, boxes owned by it, and buttons that follow the
// other test's state.
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <cmath>
#include <functional>

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
    // The control that has the focus, as the test names it: the address by its own name, not its
    // field's.
    QString Focus() {
        QWidget* focus = QApplication::focusWidget();
        if (focus == Tabs()->tabBar()) {
            return QStringLiteral("tab bar");
        }
        if (qobject_cast<CIPAddressCtrl*>(focus->parentWidget()) != nullptr) {
            focus = focus->parentWidget();
        }
        return focus->objectName();
    }

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

        QTest::keyClicks(Port(), "80");
        fixture->ClickTab("Status");
        QCOMPARE(fixture->ShownPage(), QStringLiteral("Status"));
        QTest::keyClick(sheet.StatusPage().findChild<QPushButton*>("runButton"), Qt::Key_Tab,
                        Qt::ControlModifier);
        QCOMPARE(fixture->ShownPage(), QStringLiteral("Polling"));
        fixture->ClickTab("About");
        QCOMPARE(watch.uninitialisedShows, QStringList());
    }

    // Tab goes from the tab bar through the page in front to Close and round again, stopping at
    // nothing the user cannot see; Ctrl+Tab, Ctrl+PgDn and their reverses turn the tabs from any
    // of those stops.
    void keyboardGoesThroughEachPageAndTurnsTabsFromAnywhere() {
        CTestSheet& sheet = fixture->OpenSheet();
        QApplication::setActiveWindow(&sheet);
        QCOMPARE(Focus(), QStringLiteral("loginEdit"));
        const QList<QStringList> stops = {
            // The keyring box is disabled here: the tests' session has no bus.
            {"loginEdit", "passwordEdit", "routerAddress", "portEdit", "useHttps"},
            {"runButton", "reportLink", "pageList", "deepCheck"},  // no address to stop at yet
            // Open and Poll wait for a path; of the two choices, the one chosen is the stop.
            {"pathEdit", "excludesEdit", "logEdit", "startAtLogin", "pollPage"},
            {"siteLink"}};
        for (int page = 0; page < stops.size(); ++page) {
            Tabs()->tabBar()->setFocus(Qt::TabFocusReason);
            QStringList walked;
            do {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                walked << Focus();
            } while (walked.size() < 10 && Focus() != "tab bar");
            QCOMPARE(walked, stops[page] + QStringList({"close", "tab bar"}));
            const QString caption = Tabs()->tabText(page);
            const QString next = Tabs()->tabText((page + 1) % Tabs()->count());
            for (const QString& stop : walked) {
                QWidget* widget = QApplication::focusWidget();
                for (const auto& [forward, back] : {std::pair{Qt::Key_Tab, Qt::Key_PageUp},
                                                    {Qt::Key_PageDown, Qt::Key_Backtab}}) {
                    QTest::keyClick(QApplication::focusWidget(), forward, Qt::ControlModifier);
                    QVERIFY2(fixture->ShownPage() == next, qPrintable(stop));
                    QTest::keyClick(QApplication::focusWidget(), back,
                                    back == Qt::Key_Backtab
                                        ? Qt::ControlModifier | Qt::ShiftModifier
                                        : Qt::ControlModifier);
                    QVERIFY2(fixture->ShownPage() == caption, qPrintable(stop));
                }
                widget->setFocus(Qt::TabFocusReason);
                QTest::keyClick(widget, Qt::Key_Tab);
            }
            fixture->ClickTab(next);
        }
        QCOMPARE(fixture->boxes.size(), 0u);

        fixture->ClickTab("Status");
        sheet.StatusPage().OnAddressDetected("203.0.113.45");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_D, Qt::AltModifier);
        QCOMPARE(Focus(), QStringLiteral("detectedAddress"));
        QCOMPARE(sheet.StatusPage().findChild<QLabel*>("detectedAddress")->selectedText(),
                 QStringLiteral("203.0.113.45"));
    }

    // Before any other tab is opened, a screen reader finds every control that takes the focus
    // named, the address fields told apart, the links as links it can press, the list named after
    // its heading, and the real contents of the tabs not yet shown.
    void screenReadersFindEachControlNamedInItsRole() {
        CTestSheet& sheet = fixture->OpenSheet();
        QHash<QString, QAccessibleInterface*> byName;
        QStringList names;
        QStringList unnamed;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
            const QString name = node->text(QAccessible::Name);
            names << name;
            const QString id = node->object() ? node->object()->objectName() : QString();
            if (!id.isEmpty()) {
                byName.insert(id, node);
            }
            // A control whose focus goes to another is named through that one.
            auto* widget = qobject_cast<QWidget*>(node->object());
            const bool bProxied = widget != nullptr && widget->focusProxy() != nullptr;
            if (node->state().focusable && !bProxied && node->role() != QAccessible::PageTabList &&
                name.isEmpty() && node->relations(QAccessible::Label).isEmpty()) {
                unnamed << id + " " + QString::number(node->role(), 16);
            }
            for (int i = 0; i < node->childCount(); ++i) {
                walk(node->child(i));
            }
        };
        walk(QAccessible::queryAccessibleInterface(&sheet));
        QCOMPARE(unnamed, QStringList());
        for (int i = 0; i < 4; ++i) {
            QAccessibleInterface* field = byName.value(QStringLiteral("field%1").arg(i));
            QVERIFY(field);
            QCOMPARE(field->role(), QAccessible::EditableText);
            QCOMPARE(field->text(QAccessible::Name),
                     QStringLiteral("IP address, part %1 of 4").arg(i + 1));
        }
        QAccessibleInterface* list = byName.value("pageList");
        QCOMPARE(list->role(), QAccessible::Table);
        QCOMPARE(list->text(QAccessible::Name), QStringLiteral("Path to status page"));
        QVERIFY(names.contains("Path to status page"));
        QVERIFY(!names.contains("1"));  // the heading before the list was set up
        QVERIFY(!names.contains("<version>") && !names.contains("<copyright>"));
        QVERIFY(names.contains("Copyright (C) 2026 Ravik"));

        QAccessibleInterface* detected = byName.value("detectedAddress");
        QCOMPARE(detected->role(), QAccessible::StaticText);
        QVERIFY(!detected->state().focusable && !detected->state().disabled);  // blank yet
        QCOMPARE(detected->relations(QAccessible::Label).value(0).first->text(QAccessible::Name),
                 QStringLiteral("Detected IP address:"));
        sheet.StatusPage().OnAddressDetected("203.0.113.45");
        QCOMPARE(detected->text(QAccessible::Name), QStringLiteral("203.0.113.45"));
        QVERIFY(detected->state().focusable);

        const struct {
            const char* id;
            const char* name;
            const char* description;
        } links[] = {{"reportLink", "View parsed pages", ""},
                     {"siteLink", "http://www.velmo.example", "http://www.velmo.example/"}};
        for (const auto& expected : links) {
            QAccessibleInterface* link = byName.value(expected.id);
            QCOMPARE(link->role(), QAccessible::Link);
            QCOMPARE(link->text(QAccessible::Name), QString::fromLatin1(expected.name));
            QCOMPARE(link->text(QAccessible::Description),
                     QString::fromLatin1(expected.description));
            QVERIFY(link->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::pressAction()));
        }
        byName.value("siteLink")
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(fixture->opened, QStringList{"http://www.velmo.example/"});
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
