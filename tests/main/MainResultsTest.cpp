#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/FdomainResults.h"
#include "norvale/gui/main/FdomainSearch.h"
#include "norvale/gui/main/Fgenerate.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/gui/main/StatusLegend.h"
#include "norvale/gui/platform/Twips.h"
#include "norvale/core/search/SearchBoxes.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/TestText.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace norvale;

namespace {

// domain, status, price, filing, address; a red status for "未注册", a red
// filing for a number.
const char *const Rows[][5] = {
    {"beta.com", "已注册", "", "京ICP备1号", "10.0.0.10"},
    {"alpha.net", "未注册", "39", "", ""},
    {"alpha.com", "未注册", "120", "", ""},
    {"gamma.cn", "查询失败", "", "", ""},
    {"beta.cn", "已注册", "", "", "10.0.0.9"},
    {"delta.org", "未注册", "8", "=1+2", ""},
};

struct MainWindow : test::OfflineMainWindow {
    MainWindow()
    {
        window.Load();
        ResultGridModel &grid = view().grid();
        grid.setRows(int(std::size(Rows)) + 1);
        for (int r = 0; r < int(std::size(Rows)); ++r) {
            grid.setCellText(r + 1, 0, QString::fromUtf8(Rows[r][0]));
            for (int c = 0; c < 5; ++c)
                grid.setCellText(r + 1, c + 3, QString::fromUtf8(Rows[r][c]));
            if (qstrcmp(Rows[r][1], "未注册") == 0)
                grid.setCellColor(r + 1, 4, 255);
            if (qstrlen(Rows[r][3]) > 1)
                grid.setCellColor(r + 1, 6, 255);
        }
        window.show();
    }
    QStringList shownDomains() const
    {
        QStringList out;
        for (const int row : view().shownRows())
            out << view().grid().cellText(row, 3);
        return out;
    }
    void clickHeader(int col)
    {
        QHeaderView *header = view().horizontalHeader();
        const int x = header->sectionViewportPosition(col) + header->sectionSize(col) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
};

// The widget's rectangle in the window's client area.
QRect inClient(const QWidget *w, const QWidget *client)
{
    return QRect(w->mapTo(client, QPoint(0, 0)), w->size());
}

} // namespace

class MainResultsTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }

    // At its designed size the strip under the grid fits whole; maximised
    // (under with-window-manager, a real desktop's maximise) the grid takes
    // the room and the strip keeps to its bottom and right edges.
    void designedSizeAndMaximised()
    {
        MainWindow m;
        Fdomain &w = m.window;
        QWidget *client = w.centralWidget();
        QCOMPARE(client->size(), QSize(twips(Fdomain::ClientWidth), twips(Fdomain::ClientHeight)));
        // A pasted column keeps its lines.
        QGuiApplication::clipboard()->setText(QStringLiteral("alpha\nbeta\r\ngamma\n"));
        test::control<KeywordBox>(w, "lfind")->paste();
        QCOMPARE(test::control<QLabel>(w, "lkeycount")->text(), QStringLiteral("共 3 个关键词"));
        QVERIFY(test::control<QLabel>(w, "lkeycount")->fontMetrics().horizontalAdvance(test::control<QLabel>(w, "lkeycount")->text()) <= test::control<QLabel>(w, "lkeycount")->width());
        QCOMPARE(test::control<QLabel>(w, "llegend")->text(), statusLegendShort());
        QVERIFY(test::control<QCheckBox>(w, "lonlyfree")->sizeHint().width() <= test::control<QCheckBox>(w, "lonlyfree")->width());
        for (const bool maximised : {false, true}) {
            if (maximised) {
                w.showMaximized();
                QTRY_VERIFY(w.isMaximized() && w.width() > w.minimumWidth());
                QTRY_COMPARE(m.view().width(), client->width() - twips(Fdomain::ClientWidth) + twips(10500));
            }
            const QList<QWidget *> strip{test::control<QLabel>(w, "lallnum"), test::control<QLabel>(w, "llegend"), test::control<QCheckBox>(w, "lonlyfree"), test::control<QPushButton>(w, "lexport")};
            for (qsizetype i = 0; i < strip.size(); ++i) {
                const QRect at = inClient(strip[i], client);
                QVERIFY2(client->rect().contains(at) && at.top() > m.view().geometry().bottom(),
                         qPrintable(strip[i]->objectName()));
                if (i > 0)
                    QVERIFY2(inClient(strip[i - 1], client).right() < at.left(), qPrintable(strip[i]->objectName()));
            }
            QCOMPARE(inClient(test::control<QPushButton>(w, "lexport"), client).right(), m.view().geometry().right());
        }
    }

    void sortAndFilter_data()
    {
        QTest::addColumn<QList<int>>("headerClicks");
        QTest::addColumn<bool>("onlyFree");
        QTest::addColumn<QString>("shown");
        QTest::newRow("search order") << QList<int>{} << false
                                      << "beta.com alpha.net alpha.com gamma.cn beta.cn delta.org";
        QTest::newRow("domain: name, then extension") << QList<int>{3} << false
                                                      << "alpha.com alpha.net beta.cn beta.com delta.org gamma.cn";
        QTest::newRow("domain again: reversed") << QList<int>{3, 3} << false
                                                << "gamma.cn delta.org beta.com beta.cn alpha.net alpha.com";
        QTest::newRow("a third click: search order") << QList<int>{3, 3, 3} << false
                                                     << "beta.com alpha.net alpha.com gamma.cn beta.cn delta.org";
        QTest::newRow("price as a number, empty last") << QList<int>{5} << false
                                                       << "delta.org alpha.net alpha.com beta.com gamma.cn beta.cn";
        QTest::newRow("price reversed, empty still last") << QList<int>{5, 5} << false
                                                          << "alpha.com alpha.net delta.org beta.com gamma.cn beta.cn";
        QTest::newRow("address by octets") << QList<int>{7} << false
                                           << "beta.cn beta.com alpha.net alpha.com gamma.cn delta.org";
        QTest::newRow("only free names") << QList<int>{} << true << "alpha.net alpha.com delta.org";
        QTest::newRow("only free names by price") << QList<int>{5, 5} << true << "alpha.com alpha.net delta.org";
    }

    void sortAndFilter()
    {
        QFETCH(QList<int>, headerClicks);
        QFETCH(bool, onlyFree);
        QFETCH(QString, shown);
        MainWindow m;
        Fdomain &w = m.window;
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const int col : headerClicks)
            m.clickHeader(col);
        if (onlyFree)
            test::control<QCheckBox>(w, "lonlyfree")->click();
        QCOMPARE(m.shownDomains().join(u' '), shown);
        // The header click is no click on a row.
        QVERIFY(m.platform.messages().isEmpty() && m.platform.openedUrls().isEmpty());

        // The grid's own rows are as the search wrote them.
        ResultGridModel &grid = m.view().grid();
        for (int r = 0; r < int(std::size(Rows)); ++r)
            QCOMPARE(grid.cellText(r + 1, 3), QString::fromUtf8(Rows[r][0]));

        // A click acts on the row that was clicked, whatever the order.
        ResultGridView *view = &m.view();
        QSignalSpy clicks(view, &ResultGridView::cellClicked);
        const QRect cell = view->visualRect(view->model()->index(1, 5));
        QTest::mouseMove(view->viewport(), cell.center());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(clicks.size(), 1);
        const int row = clicks.first().at(0).toInt();
        QCOMPARE(grid.cellText(row, 3), shown.section(u' ', 1, 1));
        QCOMPARE(view->activeRow(), row);
        QCOMPARE(m.platform.clipboardText(), shown.section(u' ', 1, 1));  // the price cell registers

        // A click with Ctrl held only selects.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          view->visualRect(view->model()->index(2, 5)).center());
        QCOMPARE(clicks.size(), 1);

        // A row the search adds later takes its place in the chosen order.
        const int added = grid.rows();
        grid.setRows(added + 1);
        grid.setCellText(added, 3, QStringLiteral("aaa.biz"));
        if (headerClicks == QList<int>{3})
            QCOMPARE(m.shownDomains().first(), QStringLiteral("aaa.biz"));
    }

    // A grid cleared while its rows are being exported (a new search begins)
    // ends the export: the user hears so and the file is left as it was.
    void exportStopsWhenGridIsCleared()
    {
        MainWindow m;
        Fdomain &w = m.window;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("rows.csv"));
        test::writeFile(path, "kept");
        m.platform.setChosenFile(path, 0);
        QSignalSpy done(&w.results(), &FdomainResults::fileDone);
        test::control<QPushButton>(w, "lexport")->click();
        test::control<ResultGridView>(w, "grid1")->grid().setRows(1);
        QCOMPARE(done.count(), 1);
        QCOMPARE(m.platform.messages().last(), QStringLiteral("Norvale|导出未完成：表格在导出时被清空\n") + path);
        QVERIFY(!done.wait(200));  // no step and no write follow
        QCOMPARE(test::readFile(path), QByteArray("kept"));
    }

    void exportReadBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("filter");  // as the dialog reports it
        QTest::addColumn<bool>("json");
        QTest::newRow("csv") << "rows.csv" << 0 << false;
        QTest::newRow("json") << "rows.json" << 0 << true;
        QTest::newRow("no suffix, json chosen") << "rows" << 1 << true;
        QTest::newRow("cannot be written") << "missing/rows.csv" << 0 << false;
    }

    void exportReadBack()
    {
        QFETCH(QString, name);
        QFETCH(int, filter);
        QFETCH(bool, json);
        MainWindow m;
        Fdomain &w = m.window;
        m.clickHeader(5);
        test::control<QCheckBox>(w, "lonlyfree")->click();
        QTemporaryDir dir;
        m.platform.setChosenFile(dir.filePath(name), filter);
        QSignalSpy done(&w.results(), &FdomainResults::fileDone);
        test::control<QPushButton>(w, "lexport")->click();
        QVERIFY(done.wait(10000));
        // The file dialog and the report open over the main window.
        QCOMPARE(m.platform.owners(), (QList<const QObject *>{&w, &w}));
        if (name.startsWith(u"missing")) {
            QVERIFY(m.platform.messages().last().startsWith(QStringLiteral("Norvale|导出失败：")));
            return;
        }
        const QString path = dir.filePath(name.contains(u'.') ? name : name + QStringLiteral(".json"));
        QCOMPARE(m.platform.messages().last(), QStringLiteral("Norvale|已导出 3 条记录：") + path);

        const QByteArray bytes = test::readFile(path);
        QList<QStringList> readBack;
        const auto yes = [](bool b) { return b ? QStringLiteral("是") : QStringLiteral("否"); };
        if (json) {
            for (const QJsonValue &v : QJsonDocument::fromJson(bytes).array()) {
                readBack << QStringList{v[u"domain"].toString(), v[u"status"].toString(), v[u"price"].toString(),
                                        v[u"filing"].toString(), v[u"address"].toString(),
                                        yes(v[u"free"].toBool()), yes(v[u"filed"].toBool())};
            }
        } else {
            // A spreadsheet on a Chinese desktop needs the byte-order mark to read UTF-8.
            QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
            QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            QCOMPARE(lines.takeFirst(), QStringLiteral("域名地址,注册状态,拟售价,备案号,IP,可注册,已备案"));
            for (const QString &line : lines)
                readBack << line.split(u',');
            // A cell a spreadsheet would take for a formula stays text.
            QCOMPARE(std::exchange(readBack.first()[3], QStringLiteral("=1+2")), QStringLiteral("'=1+2"));
        }
        // Row for row: what the view shows, in its order.
        const QList<int> rows = m.view().shownRows();
        const ResultGridModel &grid = m.view().grid();
        QCOMPARE(readBack.size(), rows.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            QStringList cells;
            for (int c = 3; c <= 7; ++c)
                cells << grid.cellText(rows[i], c);
            QCOMPARE(readBack[i], cells << yes(grid.cellColor(rows[i], 4).has_value())
                                        << yes(grid.cellColor(rows[i], 6).has_value()));
        }
    }

    void copySelectedRows()
    {
        MainWindow m;
        ResultGridView *view = &m.view();
        m.clickHeader(3);
        view->selectionModel()->select(view->model()->index(0, 4), QItemSelectionModel::Select);
        view->selectionModel()->select(view->model()->index(4, 7), QItemSelectionModel::Select);
        view->setFocus();
        QTest::keySequence(view, QKeySequence::Copy);
        QCOMPARE(m.platform.clipboardText(),
                 QStringLiteral("alpha.com\t未注册\t120\t\t\ndelta.org\t未注册\t8\t'=1+2\t\n"));
    }

    void importKeywords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("lfind");     // empty: refused
        QTest::addColumn<QString>("message");
        QTest::newRow("utf-8 with its mark, CR LF, repeats")
            << QByteArray("\xEF\xBB\xBF" "example.com\r\n\r\n  alpha \r\nExample\r\n陈兰\r\n")
            << QStringLiteral("example\nalpha\n陈兰") << QString();
        QTest::newRow("gbk") << QByteArray("\xB3\xC2\xC0\xBC\n\xB2\xE2\xCA\xD4\n") << QStringLiteral("陈兰\n测试")
                             << QString();
        QTest::newRow("no keyword") << QByteArray("\n .com\n") << QString() << QStringLiteral("文件中没有关键词");
    }

    void importKeywords()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, lfind);
        QFETCH(QString, message);
        MainWindow m;
        test::control<KeywordBox>(m.window, "lfind")->setText(QStringLiteral("before"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("keywords.txt"));
        QVERIFY(test::writeFile(path, bytes));
        m.platform.setChosenFile(path);
        QSignalSpy done(&m.window.results(), &FdomainResults::fileDone);
        test::control<QPushButton>(m.window, "limport")->click();
        QVERIFY(done.wait(10000));
        if (lfind.isEmpty()) {
            QCOMPARE(test::control<KeywordBox>(m.window, "lfind")->text(), QStringLiteral("before"));
            QCOMPARE(m.platform.messages().last().section(u'\n', 0, 0), u"Norvale|" + message);
            return;
        }
        QCOMPARE(test::control<KeywordBox>(m.window, "lfind")->text(), lfind);
        QCOMPARE(test::control<QLabel>(m.window, "lkeycount")->text(), QStringLiteral("共 %1 个关键词").arg(lfind.count(u'\n') + 1));
    }

    // A long list is recounted off the interface thread once typing pauses:
    // a key press leaves the count as it was, the new one follows.
    void longListCountedInTheBackground()
    {
        MainWindow m;
        QStringList keywords;
        for (int i = 0; i < 20000; ++i)
            keywords << QStringLiteral("kw%1").arg(i);
        test::control<KeywordBox>(m.window, "lfind")->setText(keywords.join(u'\n'));
        QTRY_COMPARE(test::control<QLabel>(m.window, "lkeycount")->text(), QStringLiteral("共 20000 个关键词"));
        test::control<KeywordBox>(m.window, "lfind")->setFocus();
        test::control<KeywordBox>(m.window, "lfind")->end(false);
        // "kw19999" becomes "kw199", a repeat.
        QTest::keyClick(test::control<KeywordBox>(m.window, "lfind"), Qt::Key_Backspace);
        QTest::keyClick(test::control<KeywordBox>(m.window, "lfind"), Qt::Key_Backspace);
        QCOMPARE(test::control<QLabel>(m.window, "lkeycount")->text(), QStringLiteral("共 20000 个关键词"));
        QTRY_COMPARE(test::control<QLabel>(m.window, "lkeycount")->text(), QStringLiteral("共 19999 个关键词"));
        test::control<KeywordBox>(m.window, "lfind")->setText(QStringLiteral("single"));
        QVERIFY(test::control<QLabel>(m.window, "lkeycount")->isHidden());
    }

    // The pattern dialog's count and sample as the pattern is typed, and
    // what it hands the keyword box: confirmed above 10,000 candidates,
    // capped at what the box takes.
    void generateKeywords_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("allKinds");   // else .com alone
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<QString>("count");   // the start of lcount
        QTest::addColumn<QString>("asked");   // part of the question; empty: none
        QTest::addColumn<int>("handed");      // lines in lfind; 0: nothing handed
        QTest::newRow("small, no question") << QStringLiteral("{数字:AABB}") << false << false
                                            << QStringLiteral("共 90 个关键词，× 1 种后缀 = 90 个候选域名")
                                            << QString() << 90;
        QTest::newRow("many candidates, confirmed") << QStringLiteral("{声母:3}") << true << true
                                                    << QStringLiteral("共 8,000 个关键词，× 17 种后缀")
                                                    << QStringLiteral("共 136,000 个候选域名") << 8000;
        QTest::newRow("many candidates, declined") << QStringLiteral("{声母:3}") << true << false
                                                   << QStringLiteral("共 8,000 个关键词") << QStringLiteral("136,000")
                                                   << 0;
        QTest::newRow("capped") << QStringLiteral("{声母:4}") << false << true << QStringLiteral("共 160,000 个关键词")
                                << QStringLiteral("只搜索前 100,000 个") << Fgenerate::MaxHandedOver;
        QTest::newRow("bad pattern") << QStringLiteral("{数字") << false << true
                                     << QStringLiteral("第 1 个字符：缺少") << QString() << 0;
    }

    void generateKeywords()
    {
        QFETCH(QString, pattern);
        QFETCH(bool, allKinds);
        QFETCH(bool, answerYes);
        QFETCH(QString, count);
        QFETCH(QString, asked);
        QFETCH(int, handed);
        const QLocale locale;
        QLocale::setDefault(QLocale(QLocale::English));  // "8,000"
        const auto restore = qScopeGuard([&locale] { QLocale::setDefault(locale); });
        MainWindow m;
        if (!allKinds)
            test::kindBox(m.window, 0)->click();  // unticks 全部
        m.platform.setAnswerYes(answerYes);
        test::control<KeywordBox>(m.window, "lfind")->setText(QStringLiteral("before"));
        test::control<QPushButton>(m.window, "lgenerate")->click();
        auto *dialog = m.window.findChild<Fgenerate *>();
        QVERIFY(dialog && dialog->isVisible());

        dialog->lpattern()->setText(pattern);
        QTRY_VERIFY(dialog->lcount()->text().startsWith(count));
        const QStringList sample = dialog->lsample()->toPlainText().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(sample.size(), handed > 0 ? std::min(handed, int(Fgenerate::SampleSize)) : sample.size());
        QCOMPARE(dialog->lok()->isEnabled(), !count.startsWith(u'第'));

        QSignalSpy over(dialog, &Fgenerate::handedOver);
        dialog->lok()->click();
        QCOMPARE(m.platform.questions().size(), asked.isEmpty() ? 0 : 1);
        if (!asked.isEmpty()) {
            QVERIFY2(m.platform.questions().first().contains(asked), qPrintable(m.platform.questions().first()));
            QCOMPARE(m.platform.owners(), QList<const QObject *>{dialog});
        }
        if (handed == 0) {
            // Declined or no pattern: nothing was started.
            QCOMPARE(dialog->lok()->isEnabled(), !count.startsWith(u'第'));
            QCOMPARE(test::control<KeywordBox>(m.window, "lfind")->text(), QStringLiteral("before"));
            QVERIFY(dialog->isVisible());
            return;
        }
        QVERIFY(over.wait(10000));
        QVERIFY(!dialog->isVisible());
        const QStringList lines = test::control<KeywordBox>(m.window, "lfind")->text().split(u'\n');
        QCOMPARE(lines.size(), handed);
        QCOMPARE(lines.mid(0, sample.size()), sample);
        QTRY_COMPARE(test::control<QLabel>(m.window, "lkeycount")->text(), QStringLiteral("共 %1 个关键词").arg(handed));
    }

    void remembersBetweenRuns_data()
    {
        QTest::addColumn<bool>("ticks");  // "记住勾选" ticked
        QTest::newRow("size, place and widths") << false;
        QTest::newRow("and the ticks, when asked") << true;
    }

    void remembersBetweenRuns()
    {
        QFETCH(bool, ticks);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("norvale/norvale.conf"));
        QSize size;
        {
            MainWindow first;
            Fdomain &w = first.window;
            w.rememberIn(file);  // nothing kept yet: the defaults
            QVERIFY(test::control<QCheckBox>(w, "lextendnum1")->isChecked());
            QVERIFY(!test::control<QAction>(w, "mremember")->isChecked());
            if (ticks)
                test::control<QAction>(w, "mremember")->trigger();
            test::kindBox(w, 0)->click();
            test::kindBox(w, 15)->click();
            test::control<QCheckBox>(w, "lshowbak")->click();
            first.view().setColWidth(3, 260);
            w.resize(w.minimumSize() + QSize(120, 80));
            size = w.size();
            test::control<QAction>(w, "mend")->trigger();
            QCOMPARE(first.platform.exitRequests(), 1);
        }
        MainWindow next;
        Fdomain &w = next.window;
        w.rememberIn(file);
        QCOMPARE(test::control<QAction>(w, "mremember")->isChecked(), ticks);
        // Without the entry the window starts as it promises: "全部" alone.
        QCOMPARE(test::control<QCheckBox>(w, "lextendnum1")->isChecked(), !ticks);
        for (int i = 0; i < Fdomain::ExtensionCount; ++i)
            QCOMPARE(test::kindBox(w, i)->isChecked(), ticks && (i == 0 || i == 15));
        // The search's own copy follows.
        QCOMPARE(w.search().boxes().all(), !ticks);
        QCOMPARE(w.search().boxes().kind(15), ticks);
        QCOMPARE(test::control<QCheckBox>(w, "lshowbak")->isChecked(), ticks);
        QCOMPARE(w.search().boxes().showRelated(), ticks);
        QCOMPARE(next.view().colWidth(3), 260);
        QCOMPARE(next.view().colWidth(0), 0);
        QCOMPARE(w.size(), size);

        // A damaged file leaves the window as it opens by default.
        QVERIFY(test::writeFile(file, "\x01\x02[search\nall=maybe\x00"));
        MainWindow third;
        third.window.rememberIn(file);
        QVERIFY(test::control<QCheckBox>(third.window, "lextendnum1")->isChecked());
    }
};

QTEST_MAIN(MainResultsTest)
#include "MainResultsTest.moc"
