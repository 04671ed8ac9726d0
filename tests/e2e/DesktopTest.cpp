#include "tests/e2e/AtspiClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ServicesFixture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale::test;
using namespace Qt::StringLiterals;
using Node = AtspiClient::Node;

namespace {

constexpr int Patience = 20000;  // ms for anything the program does on its own

// Real key presses on the X display, as a keyboard makes them.
bool press(const QStringList &keys)
{
    return QProcess::execute(u"xdotool"_s, QStringList{u"key"_s} + keys) == 0;
}

// What an X tool prints, its arguments given.
QString ask(const QString &tool, const QStringList &arguments)
{
    return QString::fromLatin1(runProgram(tool, arguments, {}, 5000).out);
}

// The frame the window manager drew around the window titled title, whose
// client area is at client.
QRect frameOf(const QString &title, const QRect &client)
{
    const QString window =
        ask(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + title + u'$'}).section(u'\n', 0, 0);
    // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
    const QStringList sides = ask(u"xprop"_s, {u"-id"_s, window, u"_NET_FRAME_EXTENTS"_s}).section(u'=', 1).split(u',');
    if (sides.size() != 4)
        return {};
    return client.adjusted(-sides[0].trimmed().toInt(), -sides[2].trimmed().toInt(), sides[1].trimmed().toInt(),
                           sides[3].trimmed().toInt());
}

} // namespace

// Norvale as a screen-reader user meets it: the program started on a
// desktop with a window manager and the accessibility bus, against the real
// services and the test DNS server, and driven only through what the
// accessibility bus shows and real key presses.
class DesktopTest final : public QObject {
    Q_OBJECT

    ServicesFixture m_world;
    QTemporaryDir m_home;
    QProcess m_norvale;
    AtspiClient m_atspi;
    Node m_program;
    Node m_main;

    Node find(const QString &role, const QString &name, bool prefix = false)
    {
        return m_atspi.find(m_main, role, name, prefix);
    }

private slots:
    void initTestCase()
    {
        for (const char *reason : {"NORVALE_TEST_NO_WINDOW_MANAGER", "NORVALE_TEST_NO_ACCESSIBILITY_BUS"}) {
            if (qEnvironmentVariableIsSet(reason))
                QSKIP(qPrintable(qEnvironmentVariable(reason)));
        }
        // Its key presses must reach no one's desktop but its own.
        if (qEnvironmentVariable("DISPLAY").isEmpty()
            || qEnvironmentVariable("NORVALE_TEST_PRIVATE_DISPLAY") != qEnvironmentVariable("DISPLAY"))
            QSKIP("presses keys on a display of its own only: run under tests/support/with-window-manager");
        if (!qEnvironmentVariableIsSet("NORVALE_TEST_ACCESSIBILITY_BUS"))
            QSKIP("reads the accessibility bus: run under tests/support/with-accessibility-bus");
        if (QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
            QSKIP("xdotool is not installed: no real key presses here");
        if (!m_world.start())
            return;
        REQUIRE_TEST_RESOLVER(m_world);
        m_world.dns().addRecord(u"chenglan.cn"_s, {u"192.0.2.21"_s});
        QString error;
        QVERIFY2(m_atspi.connectToBus(&error), qPrintable(error));

        // A user of its own: nothing remembered from another run.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, m_home.path());
        environment.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
        m_norvale.setProcessEnvironment(environment);
        m_norvale.setProcessChannelMode(QProcess::MergedChannels);
        endWithParent(m_norvale);
        m_norvale.start(QStringLiteral(NORVALE_EXE), {u"--data-service"_s, m_world.services.baseUrl()});
        QByteArray said;
        QVERIFY2(waitUntilReady(m_norvale, Patience, [&] { return (said += m_norvale.readAll()).contains("Norvale is ready"); }),
                 said.constData());

        QTRY_VERIFY_WITH_TIMEOUT(!(m_program = m_atspi.application(u"Norvale"_s)).isNull(), Patience);
        for (const Node &window : m_atspi.children(m_program)) {
            if (m_atspi.roleName(window) == u"frame" && m_atspi.has(window, AtspiClient::Showing))
                m_main = window;
        }
        QVERIFY(!m_main.isNull());
    }

    void cleanupTestCase()
    {
        m_norvale.kill();
        m_norvale.waitForFinished(5000);
    }

    // The keyword box found by its name, a kind ticked with its key, Enter,
    // and the rows read through the table as a screen reader reads them.
    void searchFromTheKeyboard()
    {
        const Node keyword = find(u"text"_s, u"关键词"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_atspi.has(keyword, AtspiClient::Focused), Patience);
        QVERIFY(!find(u"label"_s, u"尚无查询结果"_s).isNull());

        QVERIFY(QProcess::execute(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"20"_s, u"chenglan"_s}) == 0);
        QVERIFY(press({u"alt+u"_s}));  // ticks .cn; the focus stays in the keyword box
        QTRY_VERIFY(m_atspi.has(keyword, AtspiClient::Focused));
        QVERIFY(press({u"Return"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!find(u"label"_s, u"找到相关记录"_s, true).isNull(), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(find(u"progress bar"_s, u"进度"_s).isNull(), Patience);

        const Node table = find(u"table"_s, u"查询结果"_s);
        QCOMPARE(m_atspi.columnCount(table), 5);  // the hidden columns are not there to be read
        QStringList headers;
        QStringList first;
        for (int c = 0; c < 5; ++c) {
            headers << m_atspi.name(m_atspi.columnHeader(table, c));
            first << m_atspi.name(m_atspi.cell(table, 0, c));
        }
        QCOMPARE(headers, u"域名地址 注册状态 拟售价 备案号 IP"_s.split(u' '));
        QCOMPARE(first, (QStringList{u"chenglan.cn"_s, u"已注册"_s, {}, u"鲁ICP备86620649号-2"_s, u"192.0.2.21"_s}));
        QVERIFY(m_atspi.rowCount(table) > 1);
        QVERIFY(!find(u"label"_s, u"找到相关记录  %1  条"_s.arg(m_atspi.rowCount(table))).isNull());
    }

    // F6 to the grid, the arrows to the first row's status cell, which a
    // screen reader announces, and Enter opens the whois window on it; the
    // title bars are on the screen; Escape hides the window; F10 opens the
    // menu bar.
    void lookupFromACell()
    {
        m_atspi.takeFocusChanges();
        QVERIFY(press({u"F6"_s, u"Down"_s, u"Right"_s}));
        QList<Node> announced;
        const auto lastAnnounced = [&] {
            announced += m_atspi.takeFocusChanges();
            return announced.isEmpty() ? QString() : m_atspi.name(announced.last());
        };
        QTRY_COMPARE_WITH_TIMEOUT(lastAnnounced(), u"已注册"_s, Patience);

        QVERIFY(press({u"Return"_s}));
        Node whois;
        QTRY_VERIFY_WITH_TIMEOUT(!(whois = m_atspi.find(m_program, u"frame"_s, u"Whois查询"_s)).isNull(), Patience);
        const Node input = m_atspi.find(whois, u"text"_s, u"域名"_s);
        QCOMPARE(m_atspi.text(input), u"chenglan.cn"_s);
        const Node record = m_atspi.find(whois, u"text"_s, u"Whois信息"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_atspi.text(record).contains(u"chenglan.cn"_s), Patience);
        // The keys go to the whois window.
        QTRY_VERIFY_WITH_TIMEOUT(m_atspi.has(input, AtspiClient::Focused), Patience);

        for (const auto &[title, window] : {std::pair{u"Whois查询"_s, whois}, std::pair{u"Norvale"_s, m_main}}) {
            const QRect frame = frameOf(title, m_atspi.extents(window));
            QVERIFY2(frame.isValid() && frame.top() >= 0 && frame.left() >= 0,
                     qPrintable(title + u' ' + QString::number(frame.top())));
        }

        QVERIFY(press({u"Escape"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_atspi.has(whois, AtspiClient::Showing), Patience);
        // Back in the main window, whose activation puts the focus into the keyword box.
        QTRY_VERIFY_WITH_TIMEOUT(m_atspi.has(find(u"text"_s, u"关键词"_s), AtspiClient::Focused), Patience);
        QVERIFY(press({u"F10"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_atspi.find(m_program, u"popup menu"_s, u"工具"_s).isNull(), Patience);
        QVERIFY(press({u"Escape"_s}));
    }
};

QTEST_GUILESS_MAIN(DesktopTest)
#include "DesktopTest.moc"
