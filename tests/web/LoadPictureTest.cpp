#include "norvale/gui/platform/LoadPicture.h"
#include "tests/support/Started.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestText.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using norvale::test::TestHttpServer;

class LoadPictureTest final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TestHttpServer m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QImage image(7, 5, QImage::Format_ARGB32);
        image.fill(QColor(255, 0, 0));
        QVERIFY(image.save(m_dir.filePath(QStringLiteral("logo.png"))));
        QVERIFY(norvale::test::writeFile(m_dir.filePath(QStringLiteral("fake.png")), "<html>not a picture</html>"));

        const std::string pngBytes = norvale::test::readFile(m_dir.filePath(QStringLiteral("logo.png"))).toStdString();
        m_server.get("/logo.png", [pngBytes](const httplib::Request &, httplib::Response &res) {
            res.set_content(pngBytes, "image/png");
        });
        m_server.get("/page.html", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html><body>hello</body></html>", "text/html");
        });
        m_server.get("/gone.png", [pngBytes](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content(pngBytes, "image/png");
        });
        VERIFY_STARTED(m_server);
    }

    void loads_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("picture");

        const QString png = m_dir.filePath(QStringLiteral("logo.png"));
        QTest::newRow("local file") << png << true;
        QTest::newRow("file address") << QUrl::fromLocalFile(png).toString() << true;
        QTest::newRow("over http") << m_server.url(QStringLiteral("/logo.png")) << true;
        QTest::newRow("html page") << m_server.url(QStringLiteral("/page.html")) << false;
        QTest::newRow("error status") << m_server.url(QStringLiteral("/gone.png")) << false;
        QTest::newRow("empty path") << QString() << false;
        QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.png")) << false;
        QTest::newRow("not a picture") << m_dir.filePath(QStringLiteral("fake.png")) << false;
        QTest::newRow("folder") << m_dir.path() << false;
    }

    void loads()
    {
        QFETCH(QString, name);
        QFETCH(bool, picture);

        const QImage image = norvale::LoadPicture(name);
        QCOMPARE(!image.isNull(), picture);
        if (picture) {
            QCOMPARE(image.size(), QSize(7, 5));
            QCOMPARE(image.pixelColor(3, 2), QColor(255, 0, 0));
        }
    }
};

QTEST_MAIN(LoadPictureTest)
#include "LoadPictureTest.moc"
