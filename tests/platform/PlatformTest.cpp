#include "norvale/core/platform/WebAddress.h"
#include "tests/support/RecordingPlatform.h"

#include <QTest>

class PlatformTest final : public QObject {
    Q_OBJECT

private slots:
    void openWebAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opened");

        QTest::newRow("http") << QStringLiteral("http://www.example.com/buy?d=a.com") << true;
        QTest::newRow("https, upper-case scheme") << QStringLiteral("HTTPS://example.com") << true;
        QTest::newRow("mailto") << QStringLiteral("mailto:admin@example.com") << true;
        QTest::newRow("surrounding spaces") << QStringLiteral("  http://example.com  ") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("no scheme") << QStringLiteral("example.com") << false;
        QTest::newRow("file") << QStringLiteral("file:///usr/bin/xterm") << false;
        QTest::newRow("local path") << QStringLiteral("/usr/bin/xterm") << false;
        QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)") << false;
        QTest::newRow("other scheme") << QStringLiteral("smb://host/share") << false;
        QTest::newRow("http without host") << QStringLiteral("http:///etc/passwd") << false;
        QTest::newRow("empty mailto") << QStringLiteral("mailto:") << false;
        QTest::newRow("mailto with subject, body, cc")
            << QStringLiteral("mailto:a@example.com?subject=Hi&Body=x%26attach%3Dy&cc=b@example.com") << true;
        // Mail programs attach local files named in the address.
        QTest::newRow("mailto attaching a file") << QStringLiteral("mailto:a@example.com?attach=/etc/passwd") << false;
        QTest::newRow("mailto attachment, encoded name")
            << QStringLiteral("mailto:a@example.com?subject=x&%61ttachment=file:///root/.ssh/id_rsa") << false;
        QTest::newRow("mailto bcc") << QStringLiteral("mailto:a@example.com?bcc=c@example.com") << false;
        QTest::newRow("control character") << QStringLiteral("http://example.com/\x01") << false;
    }

    void openWebAddress()
    {
        QFETCH(QString, address);
        QFETCH(bool, opened);

        norvale::test::RecordingPlatform platform;
        QObject window;
        QCOMPARE(norvale::openWebAddress(platform, address, &window), opened);
        QCOMPARE(platform.openedUrls(), opened ? QStringList{address.trimmed()} : QStringList{});
        // A refusal is said once, over the window that asked.
        const QString refused = u"Norvale|" + QString::fromUtf16(norvale::webaddresstext::refused);
        QCOMPARE(platform.messages(), opened ? QStringList{} : QStringList{refused});
        QCOMPARE(platform.owners(), opened ? QList<const QObject *>{} : QList<const QObject *>{&window});
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "PlatformTest.moc"
