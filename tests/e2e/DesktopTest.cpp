#include "tests/e2e/AtspiClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale::test;
using Node = AtspiClient::Node;

namespace {

constexpr int Patience = 20000;  // ms for anything the program does on its own

// Real key presses on the X display, as a keyboard makes them.
bool keys(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// The frame the window manager drew around the window titled title, and the
// window's client area: (left, right, top, bottom) and the client's place.
QRect frameOf(const QString &title, const QRect &client)
{
    QProcess search;
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--name"), u'^' + title + u'$'});
    if (!search.waitForFinished(5000))
        return {};
    const QString window = QString::fromLatin1(search.readAllStandardOutput()).split(u'\n').value(0);
    QProcess extents;
    extents.start(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_FRAME_EXTENTS")});
    if (!extents.waitForFinished(5000))
        return {};
    // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
    const QStringList sides = QString::fromLatin1(extents.readAllStandardOutput()).section(u'=', 1).split(u',');
    if (sides.size() != 4)
        return {};
    return client.adjusted(-sides[0].trimmed().toInt(), -sides[2].trimmed().toInt(), sides[1].trimmed().toInt(),
                           sides[3].trimmed().toInt());
}

} // namespace

// Norvale as a screen-reader user meets it: started as a program on a
// desktop with a window manager and the accessibility bus, against the real
// services and the test DNS server, and driven only through what the
// accessibility bus shows and real key presses.
class DesktopTest final : public QObject {
    Q_OBJECT

    TestResolver m_resolver;
    ServicesProcess m_services;
    QTemporaryDir m_home;
    QProcess m_norvale;
    AtspiClient m_atspi;
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
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed: no real key presses here");
        QVERIFY2(m_resolver.start() || !m_resolver.broken(), qPrintable(m_resolver.reason()));
        if (!m_resolver.ready())
            QSKIP(qPrintable(m_resolver.reason()));
        m_resolver.server().addRecord(QStringLiteral("chenglan.cn"), {QStringLiteral("192.0.2.21")});
        QString error;
        QVERIFY2(m_services.start(&error), qPrintable(error));
        QVERIFY2(m_atspi.connectToBus(&error), qPrintable(error));

        // A user of its own: nothing remembered from another run.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_norvale.setProcessEnvironment(environment);
        m_norvale.setProcessChannelMode(QProcess::MergedChannels);
        endWithParent(m_norvale);
        m_norvale.start(QStringLiteral(NORVALE_EXE), {QStringLiteral("--data-service"), m_services.baseUrl()});
        QByteArray said;
        for (QDeadlineTimer deadline(Patience); !said.contains("Norvale is ready") && !deadline.hasExpired();)
            said += m_norvale.waitForReadyRead(100) ? m_norvale.readAll() : QByteArray();
        QVERIFY2(said.contains("Norvale is ready"), said.constData());

        Node program;
        QTRY_VERIFY_WITH_TIMEOUT(!(program = m_atspi.application(QStringLiteral("Norvale"))).isNull(), Patience);
        for (const Node &window : m_atspi.children(program)) {
            if (m_atspi.roleName(window) == u"frame" && m_atspi.showing(window))
                m_main = window;
        }
        QVERIFY(!m_main.isNull());
    }

    void cleanupTestCase()
    {
        m_norvale.kill();
        m_norvale.waitForFinished(5000);
    }

    // Keyword box by its name, a kind ticked with its key, Enter, and the
    // rows read through the table as a screen reader reads them.
    void searchFromTheKeyboard()
    {
        const Node keyword = find(QStringLiteral("text"), QStringLiteral("关键词"));
        QVERIFY(!keyword.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(m_atspi.focused(keyword), Patience);
        QVERIFY(!find(QStringLiteral("label"), QStringLiteral("尚无查询结果")).isNull());

        // Alt+U ticks .cn and leaves the focus in the keyword box.
        QVERIFY(keys({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                      QStringLiteral("chenglan")}));
        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("alt+u")}));
        QTRY_VERIFY(m_atspi.focused(keyword));
        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("Return")}));

        QTRY_VERIFY_WITH_TIMEOUT(!find(QStringLiteral("label"), QStringLiteral("找到相关记录"), true).isNull(),
                                 Patience);
        QTRY_VERIFY_WITH_TIMEOUT(find(QStringLiteral("progress bar"), QStringLiteral("进度")).isNull(), Patience);

        const Node table = find(QStringLiteral("table"), QStringLiteral("查询结果"));
        QVERIFY(!table.isNull());
        // The hidden columns are not there to be read.
        QCOMPARE(m_atspi.columnCount(table), 5);
        QStringList headers;
        for (int c = 0; c < 5; ++c)
            headers << m_atspi.name(m_atspi.columnHeader(table, c));
        QCOMPARE(headers, QStringLiteral("域名地址 注册状态 拟售价 备案号 IP").split(u' '));
        QVERIFY(m_atspi.rowCount(table) > 1);
        QStringList first;
        for (int c = 0; c < 5; ++c)
            first << m_atspi.name(m_atspi.cell(table, 0, c));
        QCOMPARE(first, (QStringList{QStringLiteral("chenglan.cn"), QStringLiteral("已注册"), QString(),
                                     QStringLiteral("鲁ICP备86620649号-2"), QStringLiteral("192.0.2.21")}));
        const QString counted = QStringLiteral("找到相关记录  %1  条").arg(m_atspi.rowCount(table));
        QVERIFY(!find(QStringLiteral("label"), counted).isNull());
    }

    // From the keyword box to the grid, along the row to its status cell, and
    // Enter opens the whois window on it; each window's title bar is on the
    // screen; the menu bar opens from the keyboard.
    void lookupFromACell()
    {
        m_atspi.takeFocusChanges();
        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("F6"), QStringLiteral("Down"), QStringLiteral("Right")}));
        // What a screen reader announces is the cell the user is on.
        QList<Node> announced;
        const auto lastAnnounced = [&] {
            announced += m_atspi.takeFocusChanges();
            return announced.isEmpty() ? QString() : m_atspi.name(announced.last());
        };
        QTRY_COMPARE_WITH_TIMEOUT(lastAnnounced(), QStringLiteral("已注册"), Patience);

        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("Return")}));
        Node program = m_atspi.application(QStringLiteral("Norvale"));
        Node whois;
        QTRY_VERIFY_WITH_TIMEOUT(!(whois = m_atspi.find(program, QStringLiteral("frame"), QStringLiteral("Whois查询")))
                                      .isNull(),
                                 Patience);
        QCOMPARE(m_atspi.text(m_atspi.find(whois, QStringLiteral("text"), QStringLiteral("域名"))),
                 QStringLiteral("chenglan.cn"));
        const Node record = m_atspi.find(whois, QStringLiteral("text"), QStringLiteral("Whois信息"));
        QTRY_VERIFY_WITH_TIMEOUT(m_atspi.text(record).contains(QStringLiteral("chenglan.cn")), Patience);

        for (const auto &[title, window] : {std::pair{QStringLiteral("Whois查询"), whois},
                                            std::pair{QStringLiteral("Norvale"), m_main}}) {
            const QRect frame = frameOf(title, m_atspi.extents(window));
            QVERIFY2(frame.isValid() && frame.top() >= 0 && frame.left() >= 0,
                     qPrintable(title + u' ' + QString::number(frame.top())));
        }

        // Escape in the whois window hides it; the main window has the keys again.
        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_atspi.showing(whois), Patience);
        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("F10")}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_atspi.find(program, QStringLiteral("popup menu"), QStringLiteral("工具")).isNull(),
                                 Patience);
        QVERIFY(keys({QStringLiteral("key"), QStringLiteral("Escape")}));
    }
};

QTEST_GUILESS_MAIN(DesktopTest)
#include "DesktopTest.moc"
