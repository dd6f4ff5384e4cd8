#include <QTest>
#include "support/GuiFixture.h"
class AboutPageTest : public QObject {
    Q_OBJECT
};
QTEST_MAIN(AboutPageTest)
#include "AboutPageTest.moc"
