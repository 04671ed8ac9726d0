#include "norvale/about/Fabout.h"
#include "tests/support/RecordingPlatform.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace norvale;

namespace {

ConfigRecord recordWithVersion(const QString &lver)
{
    QStringList values;
    for (const QLatin1StringView key : kConfigKeys)
        values.append(QStringLiteral("value of ") + QString(key));
    values[0] = lver;
    return ConfigRecord(values);
}

} // namespace

class FaboutTest final : public QObject {
    Q_OBJECT

    test::RecordingPlatform m_platform;

private slots:
    void holdsEveryValueOutOfSight_data()
    {
        QTest::addColumn<QString>("lver");
        QTest::addColumn<bool>("offered");
        QTest::newRow("newer") << QStringLiteral("1.05") << true;
        QTest::newRow("same") << QStringLiteral("1.0") << false;
    }

    void holdsEveryValueOutOfSight()
    {
        QFETCH(QString, lver);
        QFETCH(bool, offered);
        Fabout about(recordWithVersion(lver), m_platform);
        auto *button = about.findChild<QPushButton *>(QStringLiteral("ldownact"));
        QVERIFY(button && !about.isVisible());
        QCOMPARE(button->text(), QStringLiteral("点击升级"));
        QCOMPARE(!button->isHidden(), offered);

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto *hidden = about.findChild<QGroupBox *>(QStringLiteral("hidden"));
        QVERIFY(hidden && !hidden->isVisible());
        for (const QLatin1StringView key : kConfigKeys) {
            auto *holder = hidden->findChild<QLabel *>(QString(key));
            QVERIFY2(holder, key.data());
            QCOMPARE(holder->text(), about.value(key));
            QCOMPARE(about.value(key), key == QLatin1StringView("lver") ? lver : QStringLiteral("value of ") + QString(key));
        }
    }

    void closingOnlyHides()
    {
        Fabout about(recordWithVersion(QStringLiteral("2")), m_platform);
        about.setAttribute(Qt::WA_DeleteOnClose);  // must not matter: it never really closes
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(!about.close());
        QVERIFY(!about.isVisible());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.value(u"lver"), QStringLiteral("2"));
    }
};

QTEST_MAIN(FaboutTest)
#include "FaboutTest.moc"
