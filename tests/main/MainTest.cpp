#include "norvale/core/grid/GridTexts.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/GridItemModel.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/gui/platform/Twips.h"
#include "norvale/core/search/SearchRules.h"
#include "norvale/gui/platform/FontSubstitutes.h"
#include "tests/support/MainWindowFixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QScrollBar>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace norvale;

namespace {

// The main window loaded and shown, as the start-up sequence leaves it.
struct MainWindow : test::OfflineMainWindow {
    bool loadAndShow()
    {
        window.Load();
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
};

bool showGrid(ResultGridView &view, int rows)
{
    if (!view.grid().setCols(8) || !view.grid().setRows(rows))
        return false;
    view.resize(700, 400);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

// Counts the events of one type that reach an object.
class EventCounter final : public QObject {
public:
    EventCounter(QObject *watched, QEvent::Type type, int *count) : m_type(type), m_count(count)
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            ++*m_count;
        return false;
    }

private:
    QEvent::Type m_type;
    int *m_count;
};

} // namespace

class MainTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { norvale::installFontSubstitutes(); }

    void modelKeepsItsContract()
    {
        GridItemModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ResultGridOrder order(model);
        QAbstractItemModelTester orderTester(&order, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.setCols(8));
        QVERIFY(model.setRows(6));
        QVERIFY(model.setCellText(0, 3, QStringLiteral("域名地址")));
        QVERIFY(model.setCellText(5, 7, QStringLiteral("10.0.0.1")));
        QVERIFY(model.setCols(5));
        QVERIFY(model.setCols(9));
        QCOMPARE(model.cellText(5, 7), QString());  // a dropped column comes back empty

        // Cells show one line but read back unchanged.
        const QString text = QStringLiteral("a\r\nb\tc") + QChar::LineSeparator + u'd';
        QVERIFY(model.setCellText(1, 1, text));
        QCOMPARE(model.cellText(1, 1), text);
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("a  b c d"));

        // Outside the grid: refused, nothing changes.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        for (auto [row, col] : {std::pair{6, 2}, {-1, 2}, {1, 9}, {1, -1}, {1000000, 1}}) {
            QVERIFY(!model.setCellText(row, col, QStringLiteral("x")));
            QVERIFY(!model.setCellColor(row, col, 255));
            QCOMPARE(model.cellText(row, col), QString());
            QCOMPARE(model.cellColor(row, col), std::nullopt);
        }
        QCOMPARE(changed.count(), 0);

        // Colour numbers are 0x00BBGGRR, so 255 is red; 0 is black, not the default.
        QVERIFY(!model.data(model.index(1, 4), Qt::ForegroundRole).isValid());
        const QList<std::pair<quint32, QColor>> colours{
            {255u, QColor(255, 0, 0)}, {0x123456u, QColor(0x56, 0x34, 0x12)}, {0u, QColor(0, 0, 0)}};
        for (const auto &[bgr, rgb] : colours) {
            QVERIFY(model.setCellColor(2, 4, bgr));
            QVERIFY(model.setCellColor(0, 4, bgr));
            QCOMPARE(model.cellColor(2, 4), std::optional<quint32>(bgr));
            QCOMPARE(model.data(model.index(1, 4), Qt::ForegroundRole).value<QColor>(), rgb);
            QCOMPARE(model.headerData(4, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(), rgb);
        }
        QVERIFY(!model.data(model.index(2, 4), Qt::ForegroundRole).isValid());
        // Not a plain colour number: refused, the old colour stays.
        QVERIFY(!model.setCellColor(2, 4, 0x80000005u));
        QCOMPARE(model.cellColor(2, 4), std::optional<quint32>(0));

        // Whole rows at once: one insertion for the new rows, filled before
        // the views hear of them, and one change for the rows already there.
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy rewritten(&model, &QAbstractItemModel::dataChanged);
        QString seenAtInsert;
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&] { seenAtInsert = model.cellText(8, 0); });
        const QStringList ten = QStringLiteral("a b c d e f g h i j").split(u' ');
        QVERIFY(!model.writeRows({{8, ten, 1u << 4, 255}, {2, {QStringLiteral("x")}, 0, 0},
                                  {6, {QStringLiteral("y")}, 0, 0}, {0, {QStringLiteral("header")}, 0, 0}}));
        QCOMPARE(model.rows(), 9);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(seenAtInsert, QStringLiteral("a"));
        QCOMPARE(rewritten.count(), 1);
        QCOMPARE(model.cellText(8, 8), QStringLiteral("i"));  // the tenth text has no column
        QCOMPARE(model.cellColor(8, 4), std::optional<quint32>(255));
        QCOMPARE(model.cellColor(8, 3), std::nullopt);
        QCOMPARE(model.cellText(2, 0), QStringLiteral("x"));
        QCOMPARE(model.cellColor(2, 4), std::optional<quint32>(0));  // a colour outside the mask stays
        QCOMPARE(model.cellText(7, 0), QString());
        QCOMPARE(model.cellText(0, 0), QString());

        // The order follows sorts, filters and rows that change under them.
        order.sort(0, Qt::DescendingOrder);
        QCOMPARE(order.gridRow(0), 6);  // "y", "x", "a", then the empty rows
        QCOMPARE(order.gridRow(3), 1);
        QVERIFY(model.setCellText(3, column::Status, QStringLiteral("未注册")));
        order.setOnlyFree(true);
        QCOMPARE(order.rowCount(), 1);
        QVERIFY(model.writeRows({{5, {QStringLiteral("z"), {}, {}, {}, QStringLiteral("未注册")}, 0, 0}}));
        QCOMPARE(order.gridRow(0), 5);
        QVERIFY(model.setCellText(5, column::Status, QString()));
        QCOMPARE(order.gridRow(0), 3);
        order.setOnlyFree(false);
        QVERIFY(model.setRows(4));
        QCOMPARE(order.rowCount(), 3);

        QVERIFY(model.setRows(1));
    }

    void rowCount_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("set");
        QTest::addColumn<bool>("accepted");  // else the count stays

        QTest::newRow("truncate to the header") << 6 << 1 << true;
        QTest::newRow("append one") << 4 << 5 << true;
        QTest::newRow("large in one step") << 1 << 250001 << true;
        QTest::newRow("zero keeps the header") << 3 << 0 << false;
        QTest::newRow("negative") << 3 << -1 << false;
        QTest::newRow("beyond the limit") << 3 << ResultGridModel::MaxRows + 1 << false;
    }

    void rowCount()
    {
        QFETCH(int, start);
        QFETCH(int, set);
        QFETCH(bool, accepted);
        const int rows = accepted ? set : start;

        GridItemModel model;
        QVERIFY(model.setCols(8));
        QVERIFY(model.setRows(start));
        for (int r = 0; r < start; ++r)
            QVERIFY(model.setCellText(r, 3, QString::number(r)));

        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QCOMPARE(model.setRows(set), accepted);
        QCOMPARE(model.rows(), rows);
        QCOMPARE(model.rowCount(), rows - 1);
        QVERIFY(inserted.count() <= 1);  // any growth is one batch
        for (int r = 0; r < std::min(start, rows); ++r)
            QCOMPARE(model.cellText(r, 3), QString::number(r));
        if (rows > start)
            QCOMPARE(model.cellText(rows - 1, 3), QString());
    }

    // The text store keeps its texts in blocks that never move: texts across
    // many blocks, one longer than a block between short ones, and the store
    // emptied and filled again all read back as written.
    void textStoreReadsBackAcrossBlocks()
    {
        GridTexts store;
        const QString longText(70'000, u'长');
        for (int round = 0; round < 2; ++round) {
            std::vector<std::pair<GridTexts::Id, QString>> added;
            for (int i = 0; i < 300'000; ++i) {
                const QString text = i == 150'000 ? longText : u'n' + QString::number(i * 7 + round);
                added.emplace_back(store.add(text, 0), text);
            }
            for (std::size_t i = 0; i < added.size(); i += 997)
                QCOMPARE(store.text(added[i].first).toString(), added[i].second);
            QCOMPARE(store.text(added[150'000].first).size(), longText.size());
            QCOMPARE(store.text(added.back().first).toString(), added.back().second);
            store.clear();
        }
    }

    // A million rows as a search writes them, in batches: their cells, the
    // order by price and by name (equal cells in the search's order), and
    // the free rows alone.
    void millionRows()
    {
        constexpr int count = 1'000'000;
        GridItemModel grid;
        ResultGridOrder order(grid);
        QVERIFY(grid.setCols(column::Count));
        std::vector<ResultGridModel::RowWrite> batch;
        for (int r = 1; r <= count; ++r) {
            QStringList cells(column::Count);
            // Names fall as rows rise: n999999.net, n999998.com, ...
            cells[column::Domain] = cells[column::DomainShown] =
                u'n' + QString::number(count - r) + (r % 2 ? u".net" : u".com");
            const bool free = r % 3 == 0;
            cells[column::Status] = free ? QStringLiteral("未注册") : QStringLiteral("已注册");
            cells[column::Price] = QString::number(r % 1000);
            batch.push_back({r, cells, free ? 1u << column::Status : 0u, 255});
            if (batch.size() == 10000 || r == count) {
                QVERIFY(grid.writeRows(batch));
                batch.clear();
            }
        }
        QCOMPARE(order.rowCount(), count);
        QCOMPARE(grid.cellText(123456, column::DomainShown), QStringLiteral("n876544.com"));
        QCOMPARE(grid.cellText(123456, column::Status), QStringLiteral("未注册"));
        QCOMPARE(grid.cellColor(123456, column::Status), std::optional<quint32>(255));
        QCOMPARE(grid.cellColor(123457, column::Status), std::nullopt);
        QCOMPARE(grid.cellText(count, column::Price), QStringLiteral("0"));

        order.sort(column::Price);
        const QList<int> cheapest{order.gridRow(0), order.gridRow(1), order.gridRow(count - 1)};
        QCOMPARE(cheapest, (QList<int>{1000, 2000, 999999}));
        order.sort(column::Price, Qt::DescendingOrder);
        QCOMPARE(order.gridRow(0), 999);  // ties keep the search's order either way
        order.sort(column::DomainShown);
        const QList<int> byName{order.gridRow(0), order.gridRow(1), order.gridRow(2)};
        QCOMPARE(byName, (QList<int>{count, count - 1, count - 10}));  // n0, n1, n10

        order.setOnlyFree(true);
        QCOMPARE(order.rowCount(), count / 3);
        QCOMPARE(order.gridRow(0), count - 1);  // n1
        QCOMPARE(order.viewRow(count), -1);
        order.sort(-1);
        QCOMPARE(order.gridRow(count / 3 - 1), 999999);
        order.setOnlyFree(false);
        QCOMPARE(order.rowCount(), count);
        QCOMPARE(order.gridRow(count - 1), count);
    }

    void headerRowReadOnlyHiddenColumnKeepsText()
    {
        ResultGridView view;
        ResultGridModel &grid = view.grid();
        QVERIFY(showGrid(view, 4));
        QVERIFY(grid.setCellText(0, 3, QStringLiteral("域名地址")));
        QVERIFY(grid.setCellText(2, 3, QStringLiteral("example.com")));
        QCOMPARE(view.model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("域名地址"));

        // Neither a double click nor F2 opens an editor on a cell.
        const QRect cell = view.visualRect(view.model()->index(1, 3));
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, cell.center());
        QTest::keyClick(&view, Qt::Key_F2);
        QTest::keyClicks(&view, QStringLiteral("typed"));
        QVERIFY(view.viewport()->findChildren<QLineEdit *>().isEmpty());
        QCOMPARE(grid.cellText(2, 3), QStringLiteral("example.com"));

        // A hidden column keeps its text.
        QVERIFY(view.setColWidth(3, 0));
        QVERIFY(view.isColumnHidden(3));
        QCOMPARE(view.colWidth(3), 0);
        QCOMPARE(grid.cellText(2, 3), QStringLiteral("example.com"));
        QVERIFY(view.setColWidth(3, 120));
        QCOMPARE(view.colWidth(3), 120);
        QVERIFY(!view.setColWidth(8, 10));
        QVERIFY(!view.setColWidth(1, -5));

        QVERIFY(grid.setRows(1));
        QCOMPARE(view.model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("域名地址"));
    }

    void rowsComingBelowTheShownOnesRepaintNothing()
    {
        ResultGridView view;
        QVERIFY(showGrid(view, 1));
        int paints = 0;
        EventCounter counter(view.viewport(), QEvent::Paint, &paints);
        auto add = [&view](int from, int count) {
            std::vector<ResultGridModel::RowWrite> rows;
            for (int r = from; r < from + count; ++r)
                rows.push_back({r, {QString(), QStringLiteral("n%1.com").arg(r, 5, 10, QChar(u'0'))}, 0, 0});
            return view.grid().writeRows(rows);
        };
        QVERIFY(add(1, 100));  // more than the view shows
        QTRY_VERIFY(paints > 0);

        QScrollBar *bar = view.verticalScrollBar();
        int barPaints = 0;
        EventCounter barCounter(bar, QEvent::Paint, &barPaints);
        paints = 0;
        QVERIFY(add(101, 1000));
        QTRY_VERIFY(barPaints > 0);  // the handle shrinks
        // Once it is at its smallest, more rows change nothing on screen.
        barPaints = 0;
        QVERIFY(add(1101, 1000));
        QTest::qWait(100);
        QCOMPARE(paints, 0);
        QCOMPARE(barPaints, 0);
        // The scroll bar knows them, and they show when scrolled to.
        view.scrollToBottom();
        QTRY_VERIFY(paints > 0);
        QCOMPARE(view.order().gridRow(view.rowAt(view.viewport()->height() - 2)), 2100);
        // At the bottom, more rows move the handle up.
        barPaints = 0;
        QVERIFY(add(2101, 10));
        QTRY_VERIFY(barPaints > 0);

        // Rows that land among the shown ones (here, sorted by name) show at once.
        view.scrollToTop();
        view.sortBy(1);
        QTRY_COMPARE(view.order().gridRow(0), 1);
        QTest::qWait(50);
        paints = 0;
        std::vector<ResultGridModel::RowWrite> first{{2111, {QString(), QStringLiteral("a.com")}, 0, 0}};
        QVERIFY(view.grid().writeRows(first));
        QTRY_VERIFY(paints > 0);
        QCOMPARE(view.order().gridRow(0), 2111);
    }

    void clickNotifiesAfterActiveCellMoved()
    {
        ResultGridView view;
        QVERIFY(showGrid(view, 4));
        QVERIFY(view.setColWidth(0, 0));
        QCOMPARE(view.activeRow(), 0);  // nothing active: the header row

        // Per click: row, col, active cell, pointer cell, as the handler sees them.
        QList<QList<int>> seen;
        connect(&view, &ResultGridView::cellClicked, &view, [&](int row, int col) {
            seen.append({row, col, view.activeRow(), view.activeCol(), view.mouseRow(), view.mouseCol()});
        });
        auto click = [&](int row, int col, Qt::MouseButton button = Qt::LeftButton) {
            const QRect cell = view.visualRect(view.model()->index(row - 1, col));
            QTest::mouseClick(view.viewport(), button, {}, cell.center());
        };

        click(2, 4);
        click(3, 7);
        click(3, 7);  // the same cell again is another click
        QCOMPARE(seen, (QList<QList<int>>{{2, 4, 2, 4, 2, 4}, {3, 7, 3, 7, 3, 7}, {3, 7, 3, 7, 3, 7}}));

        // No notice for a right click, below the last row, or on the header row.
        click(1, 3, Qt::RightButton);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(50, view.viewport()->height() - 3));
        QCOMPARE(view.mouseRow(), -1);
        QHeaderView *header = view.horizontalHeader();
        const int x = header->sectionViewportPosition(4) + header->sectionSize(4) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
        QCOMPARE(seen.size(), 3);
        QCOMPARE(view.mouseRow(), 0);
        QCOMPARE(view.mouseCol(), 4);
    }

    // Captions and names are in the accessibility trees; here the idle start.
    void startsIdle()
    {
        MainWindow m;
        Fdomain &w = m.window;
        QVERIFY(test::control<KeywordBox>(w, "lfind")->text().isEmpty());
        QVERIFY(!w.stopflag());
        for (QCheckBox *box : w.findChildren<QCheckBox *>())
            QCOMPARE(box->isChecked(), box == test::control<QCheckBox>(w, "lextendnum1"));  // only "全部" starts ticked
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(test::control<QLabel>(w, "lload")->isVisible());
        QVERIFY(!test::control<QGroupBox>(w, "fslide3")->isVisible());
        QVERIFY(!w.findChild<QWidget *>(QStringLiteral("Frame1"))->isVisible());
        QCOMPARE(w.centralWidget()->size(), QSize(731, 588));
        for (QLabel *label : w.findChildren<QLabel *>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    void slideAndFocus()
    {
        MainWindow m;
        Fdomain &w = m.window;
        w.Load();
        test::control<QGroupBox>(w, "fslide3")->show();
        w.setslide(50);
        QCOMPARE(test::control<QLabel>(w, "lslidetext3")->text(), QStringLiteral("50%"));
        QVERIFY(qAbs(test::control<QFrame>(w, "lslideback3")->width() * 2 - test::control<QLineEdit>(w, "lslide3")->width()) <= 1);
        QCOMPARE(test::control<QFrame>(w, "lslideback3")->x(), test::control<QLineEdit>(w, "lslide3")->x());  // grows from the left
        w.setslide(180);  // clamped
        QCOMPARE(test::control<QLabel>(w, "lslidetext3")->text(), QStringLiteral("100%"));
        QCOMPARE(test::control<QFrame>(w, "lslideback3")->width(), test::control<QLineEdit>(w, "lslide3")->width());

        // Activation empties the idle window's progress bar and focuses the keyword box.
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(test::control<QGroupBox>(w, "fslide3")->isHidden());
        QCOMPARE(test::control<QFrame>(w, "lslideback3")->width(), 0);
        QCOMPARE(test::control<QLabel>(w, "lslidetext3")->text(), QStringLiteral("0%"));
        QTRY_VERIFY(test::control<KeywordBox>(w, "lfind")->hasFocus());
    }

    void endingStopsAndExits_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("close box") << false;
        QTest::newRow("退出") << true;
    }

    void endingStopsAndExits()
    {
        QFETCH(bool, byMenu);

        MainWindow m;
        Fdomain &w = m.window;
        QVERIFY(m.loadAndShow());
        w.setStopflag(false);  // as during a search
        if (byMenu)
            test::control<QAction>(w, "mend")->trigger();
        else
            QVERIFY(!w.close());  // refused: the process ends instead
        QVERIFY(w.stopflag());
        QCOMPARE(m.platform.exitRequests(), 1);
        QVERIFY(w.isVisible());
        QVERIFY(m.platform.messages().isEmpty());
    }

    // Every caption is drawn whole in the window's face (Noto Sans CJK SC, which
    // also stands in for 宋体).
    void captionsFit()
    {
        MainWindow m;
        Fdomain &w = m.window;
        QVERIFY(m.loadAndShow());

        QWidget *frame6 = w.findChild<QWidget *>(QStringLiteral("Frame6"));
        for (QLabel *label : frame6->findChildren<QLabel *>()) {
            const QRect needed = label->fontMetrics().boundingRect(label->text());
            QVERIFY2(needed.width() + std::max(0, label->indent()) <= label->width(),
                     qPrintable(label->objectName()));
            QVERIFY2(label->fontMetrics().height() <= label->height(), qPrintable(label->objectName()));
        }
        for (QAbstractButton *button : frame6->findChildren<QAbstractButton *>()) {
            const int needed = qobject_cast<QCheckBox *>(button)
                                   ? button->sizeHint().width()
                                   : button->fontMetrics().horizontalAdvance(button->text()) + 8;
            QVERIFY2(needed <= button->width(), qPrintable(button->objectName()));
        }
    }

    // The frame, title bar included, starts at the given place, so the close
    // box is in reach. Only a window manager shows this.
    void frameOnScreen()
    {
        if (qEnvironmentVariableIsSet("NORVALE_TEST_NO_WINDOW_MANAGER"))
            QSKIP(qPrintable(qEnvironmentVariable("NORVALE_TEST_NO_WINDOW_MANAGER")));
        if (QGuiApplication::platformName() != QLatin1StringView("xcb"))
            QSKIP("needs a window manager: run under tests/support/with-window-manager");
        MainWindow m;
        QVERIFY(m.loadAndShow());
        // The manager frames the window a moment after it appears.
        QTRY_VERIFY(m.window.frameGeometry().top() < m.window.geometry().top());
        QCOMPARE(m.window.frameGeometry().topLeft(), QPoint(twips(100), twips(100)));
    }
};

QTEST_MAIN(MainTest)
#include "MainTest.moc"
