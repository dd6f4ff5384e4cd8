#include <QTest>
#include "support/GuiFixture.h"
class SpiderPageTest : public QObject {
    Q_OBJECT
};
QTEST_MAIN(SpiderPageTest)
#include "SpiderPageTest.moc"
