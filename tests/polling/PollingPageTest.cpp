#include <QTest>
#include "support/GuiFixture.h"
class PollingPageTest : public QObject {
    Q_OBJECT
};
QTEST_MAIN(PollingPageTest)
#include "PollingPageTest.moc"
