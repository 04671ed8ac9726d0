#include "norvale/web/LoadPicture.h"
#include "tests/support/TestHttpServer.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using norvale::test::TestHttpServer;

class LoadPictureTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void loads_data();
    void loads();

private:
    QTemporaryDir m_dir;
    QString m_pngPath;
    QByteArray m_png;
    TestHttpServer m_server;
};

void LoadPictureTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0));
    QBuffer buffer(&m_png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(image.save(&buffer, "PNG"));
    buffer.close();

    m_pngPath = m_dir.filePath(QStringLiteral("logo.png"));
    QFile file(m_pngPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(m_png);
    file.close();
    QFile fake(m_dir.filePath(QStringLiteral("fake.png")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("<html>not a picture</html>");
    fake.close();

    const std::string pngBytes(m_png.constData(), size_t(m_png.size()));
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
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void LoadPictureTest::cleanupTestCase()
{
    m_server.stop();
}

void LoadPictureTest::loads_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("picture");

    QTest::newRow("local file") << m_pngPath << true;
    QTest::newRow("file address") << QUrl::fromLocalFile(m_pngPath).toString() << true;
    QTest::newRow("over http") << m_server.url(QStringLiteral("/logo.png")) << true;
    QTest::newRow("html page") << m_server.url(QStringLiteral("/page.html")) << false;
    QTest::newRow("error status") << m_server.url(QStringLiteral("/gone.png")) << false;
    QTest::newRow("no such page") << m_server.url(QStringLiteral("/nothing.png")) << false;
    QTest::newRow("unreachable host") << QStringLiteral("http://norvale-no-such-host.invalid/logo.png") << false;
    QTest::newRow("empty path") << QString() << false;
    QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.png")) << false;
    QTest::newRow("not a picture") << m_dir.filePath(QStringLiteral("fake.png")) << false;
    QTest::newRow("folder") << m_dir.path() << false;
}

void LoadPictureTest::loads()
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

QTEST_MAIN(LoadPictureTest)
#include "LoadPictureTest.moc"
