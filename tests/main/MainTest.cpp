#include "norvale/data/ServerDatabase.h"
#include "norvale/main/Fdomain.h"
#include "norvale/main/GridItemModel.h"
#include "norvale/main/ResultGridView.h"
#include "norvale/startup/FontSubstitutes.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using norvale::Fdomain;
using norvale::GridItemModel;
using norvale::ResultGrid;
using norvale::ResultGridModel;
using norvale::ResultGridView;
using norvale::ServerDatabase;
using norvale::test::RecordingPlatform;

namespace {

// Nothing listens there: a window that asked it anything would end the run.
const QString kDeadService = QStringLiteral("http://127.0.0.1:9/geturl/dataurl.asp?checkin=x");

QString caption(QObject *object)
{
    if (auto *b = qobject_cast<QAbstractButton *>(object))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(object))
        return l->text();
    if (auto *g = qobject_cast<QGroupBox *>(object))
        return g->title();
    if (auto *m = qobject_cast<QMenu *>(object))
        return m->title();
    if (auto *a = qobject_cast<QAction *>(object))
        return a->text();
    return QStringLiteral("<no caption>");
}

// One window with its dependencies, as the start-up sequence makes it.
struct MainWindow {
    RecordingPlatform platform;
    ServerDatabase database{platform, kDeadService};
    Fdomain window{database, platform};
};

} // namespace

class MainTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void modelKeepsItsContract();
    void rowCount_data();
    void rowCount();
    void outOfRangeFailsSoftly_data();
    void outOfRangeFailsSoftly();
    void colourIsTextColour_data();
    void colourIsTextColour();
    void headerRowSurvivesAndStaysReadOnly();
    void cellsShowOneLine();
    void hiddenColumnKeepsText();
    void hundredThousandRows();
    void clickNotifiesAfterActiveCellMoved();

    void controlsAndCaptions_data();
    void controlsAndCaptions();
    void startsIdle();
    void loadSetsUpGrid();
    void loadBindsConnectionInForce();
    void slide_data();
    void slide();
    void activationFocusesKeywordBox();
    void backgroundClickFocusesKeywordBox();
    void endingStopsAndExits_data();
    void endingStopsAndExits();
    void captionsFit();
    void screenshot();
};

void MainTest::initTestCase()
{
    norvale::installFontSubstitutes();
}

void MainTest::modelKeepsItsContract()
{
    GridItemModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(model.setCols(8));
    QVERIFY(model.setRows(6));
    QVERIFY(model.setCellText(0, 3, QStringLiteral("域名地址")));
    QVERIFY(model.setCellText(5, 7, QStringLiteral("10.0.0.1")));
    QVERIFY(model.setCellColor(2, 4, 255));
    QVERIFY(model.setRows(7));
    QVERIFY(model.setCols(5));
    QCOMPARE(model.cellText(5, 7), QString());
    QVERIFY(model.setCols(9));
    QCOMPARE(model.cellText(5, 7), QString());  // a dropped column comes back empty
    QVERIFY(model.setRows(1));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.cellText(0, 3), QStringLiteral("域名地址"));
}

void MainTest::rowCount_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("set");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("rows");

    QTest::newRow("truncate to the header") << 6 << 1 << true << 1;
    QTest::newRow("append one") << 4 << 5 << true << 5;
    QTest::newRow("large in one step") << 1 << 250001 << true << 250001;
    QTest::newRow("same count") << 3 << 3 << true << 3;
    QTest::newRow("zero keeps the header") << 3 << 0 << false << 3;
    QTest::newRow("negative") << 3 << -1 << false << 3;
    QTest::newRow("beyond the limit") << 3 << ResultGridModel::MaxRows + 1 << false << 3;
}

void MainTest::rowCount()
{
    QFETCH(int, start);
    QFETCH(int, set);
    QFETCH(bool, accepted);
    QFETCH(int, rows);

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

    // Rows that stayed keep their texts; rows that came are empty.
    for (int r = 0; r < std::min(start, rows); ++r)
        QCOMPARE(model.cellText(r, 3), QString::number(r));
    if (rows > start)
        QCOMPARE(model.cellText(rows - 1, 3), QString());
}

void MainTest::outOfRangeFailsSoftly_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");

    QTest::newRow("row past the end") << 3 << 2;
    QTest::newRow("negative row") << -1 << 2;
    QTest::newRow("column past the end") << 1 << 8;
    QTest::newRow("negative column") << 1 << -1;
    QTest::newRow("far away") << 1000000 << 1;
}

void MainTest::outOfRangeFailsSoftly()
{
    QFETCH(int, row);
    QFETCH(int, col);

    GridItemModel model;
    QVERIFY(model.setCols(8));
    QVERIFY(model.setRows(3));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(!model.setCellText(row, col, QStringLiteral("x")));
    QVERIFY(!model.setCellColor(row, col, 255));
    QCOMPARE(model.cellText(row, col), QString());
    QCOMPARE(model.cellColor(row, col), std::nullopt);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model.rows(), 3);
}

void MainTest::colourIsTextColour_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<quint32>("bgr");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("255 is red") << 1 << quint32(255) << QColor(255, 0, 0);
    QTest::newRow("blue in the high byte") << 1 << quint32(0xFF0000) << QColor(0, 0, 255);
    QTest::newRow("byte order") << 1 << quint32(0x123456) << QColor(0x56, 0x34, 0x12);
    QTest::newRow("black is a colour") << 1 << quint32(0) << QColor(0, 0, 0);
    QTest::newRow("header cell") << 0 << quint32(255) << QColor(255, 0, 0);
}

void MainTest::colourIsTextColour()
{
    QFETCH(int, row);
    QFETCH(quint32, bgr);
    QFETCH(QColor, expected);

    GridItemModel model;
    QVERIFY(model.setCols(8));
    QVERIFY(model.setRows(3));
    const QModelIndex other = model.index(1, 4);
    QVERIFY(!model.data(other, Qt::ForegroundRole).isValid());  // the view's own colour

    QVERIFY(model.setCellColor(row, 4, bgr));
    QCOMPARE(model.cellColor(row, 4), std::optional<quint32>(bgr));
    const QVariant shown = row == 0 ? model.headerData(4, Qt::Horizontal, Qt::ForegroundRole)
                                    : model.data(model.index(row - 1, 4), Qt::ForegroundRole);
    QCOMPARE(shown.value<QColor>(), expected);
    QVERIFY(!model.data(model.index(1, 4), Qt::ForegroundRole).isValid());
    // Not a plain colour number: refused, the old colour stays.
    QVERIFY(!model.setCellColor(row, 4, 0x80000005u));
    QCOMPARE(model.cellColor(row, 4), std::optional<quint32>(bgr));
}

void MainTest::headerRowSurvivesAndStaysReadOnly()
{
    ResultGridView view;
    ResultGridModel &grid = view.grid();
    QVERIFY(grid.setCols(8));
    QVERIFY(grid.setRows(4));
    QVERIFY(grid.setCellText(0, 3, QStringLiteral("域名地址")));
    QVERIFY(grid.setCellText(2, 3, QStringLiteral("example.com")));
    view.resize(500, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QCOMPARE(view.model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("域名地址"));
    QVERIFY(!(view.model()->flags(view.model()->index(1, 3)) & Qt::ItemIsEditable));

    // Neither a double click nor F2 opens an editor on a cell.
    const QRect cell = view.visualRect(view.model()->index(1, 3));
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClick(&view, Qt::Key_F2);
    QTest::keyClicks(&view, QStringLiteral("typed"));
    QVERIFY(view.viewport()->findChildren<QLineEdit *>().isEmpty());
    QCOMPARE(grid.cellText(2, 3), QStringLiteral("example.com"));

    // Clearing the data rows keeps the header texts.
    QVERIFY(grid.setRows(1));
    QCOMPARE(grid.cellText(0, 3), QStringLiteral("域名地址"));
    QCOMPARE(view.model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("域名地址"));
}

void MainTest::cellsShowOneLine()
{
    GridItemModel model;
    QVERIFY(model.setCols(2));
    QVERIFY(model.setRows(2));
    const QString text = QStringLiteral("a\r\nb\tc") + QChar::LineSeparator + u'd';
    QVERIFY(model.setCellText(1, 1, text));
    QCOMPARE(model.cellText(1, 1), text);  // read back unchanged
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("a  b c d"));
}

void MainTest::hiddenColumnKeepsText()
{
    ResultGridView view;
    ResultGridModel &grid = view.grid();
    QVERIFY(grid.setCols(8));
    QVERIFY(grid.setRows(2));
    QVERIFY(grid.setCellText(1, 0, QStringLiteral("example.com")));

    QVERIFY(view.setColWidth(0, 0));
    QVERIFY(view.isColumnHidden(0));
    QCOMPARE(view.colWidth(0), 0);
    QCOMPARE(grid.cellText(1, 0), QStringLiteral("example.com"));

    QVERIFY(view.setColWidth(0, 120));
    QVERIFY(!view.isColumnHidden(0));
    QCOMPARE(view.colWidth(0), 120);

    QVERIFY(!view.setColWidth(8, 10));
    QVERIFY(!view.setColWidth(1, -5));
    QCOMPARE(view.colWidth(8), -1);
}

void MainTest::hundredThousandRows()
{
    ResultGridView view;
    ResultGridModel &grid = view.grid();
    QVERIFY(grid.setCols(8));
    view.resize(600, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    constexpr int rows = 100000;
    QSignalSpy inserted(&grid, &QAbstractItemModel::rowsInserted);
    QVERIFY(grid.setRows(rows + 1));
    QCOMPARE(inserted.count(), 1);
    for (int r = 1; r <= rows; ++r) {
        for (int c = 0; c < 8; ++c)
            grid.setCellText(r, c, QString::number(r * 10 + c));
    }
    for (int r : {1, 2, 4999, 50000, rows}) {
        QCOMPARE(grid.cellText(r, 3), QString::number(r * 10 + 3));
        QCOMPARE(view.model()->data(view.model()->index(r - 1, 7)).toString(), QString::number(r * 10 + 7));
    }
    view.scrollToBottom();
    QCOMPARE(view.rowAt(view.viewport()->height() - 2), rows - 1);

    // Growing one row at a time appends at the bottom.
    QVERIFY(grid.setRows(grid.rows() + 1));
    QCOMPARE(grid.rows(), rows + 2);
    QVERIFY(grid.setCellText(rows + 1, 3, QStringLiteral("last")));
    QCOMPARE(grid.cellText(rows, 3), QString::number(rows * 10 + 3));

    QVERIFY(grid.setRows(1));
    QCOMPARE(view.model()->rowCount(), 0);
}

void MainTest::clickNotifiesAfterActiveCellMoved()
{
    ResultGridView view;
    ResultGridModel &grid = view.grid();
    QVERIFY(grid.setCols(8));
    QVERIFY(grid.setRows(4));
    QVERIFY(view.setColWidth(0, 0));
    view.resize(700, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.activeRow(), 0);  // nothing active: the header row

    struct Seen {
        int row, col, activeRow, activeCol, mouseRow, mouseCol;
    };
    QList<Seen> seen;
    connect(&view, &ResultGridView::cellClicked, &view, [&](int row, int col) {
        seen.append({row, col, view.activeRow(), view.activeCol(), view.mouseRow(), view.mouseCol()});
    });

    auto click = [&](int row, int col, Qt::MouseButton button = Qt::LeftButton) {
        const QRect cell = view.visualRect(view.model()->index(row - 1, col));
        QTest::mouseClick(view.viewport(), button, {}, cell.center());
    };

    click(2, 4);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].row, 2);
    QCOMPARE(seen[0].col, 4);
    QCOMPARE(seen[0].activeRow, 2);
    QCOMPARE(seen[0].activeCol, 4);
    QCOMPARE(seen[0].mouseRow, 2);
    QCOMPARE(seen[0].mouseCol, 4);

    click(3, 7);
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[1].activeRow, 3);
    QCOMPARE(seen[1].activeCol, 7);

    click(3, 7);  // the same cell again is another click
    QCOMPARE(seen.size(), 3);

    // Moving the pointer alone updates the pointer cell, not the active one.
    QTest::mouseMove(view.viewport(), view.visualRect(view.model()->index(0, 5)).center());
    QTRY_COMPARE(view.mouseRow(), 1);
    QCOMPARE(view.mouseCol(), 5);
    QCOMPARE(view.activeRow(), 3);

    click(1, 3, Qt::RightButton);
    QCOMPARE(seen.size(), 3);

    // Below the last row there is no cell.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(50, view.viewport()->height() - 3));
    QCOMPARE(seen.size(), 3);
    QCOMPARE(view.mouseRow(), -1);

    // A click on the header row reports nothing, and the pointer reads row 0.
    QHeaderView *header = view.horizontalHeader();
    const int x = header->sectionViewportPosition(4) + header->sectionSize(4) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    QCOMPARE(seen.size(), 3);
    QCOMPARE(view.mouseRow(), 0);
    QCOMPARE(view.mouseCol(), 4);
}

void MainTest::controlsAndCaptions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    const QList<std::pair<const char *, QString>> controls{
        {"Label1", QStringLiteral("http://www.")},
        {"lsearch", QStringLiteral("搜索")},
        {"lstop", QStringLiteral("停止")},
        {"lregist", QStringLiteral("注册")},
        {"lwhois", QStringLiteral("WHOIS")},
        {"lip", QStringLiteral("IP反查")},
        {"lbak", QStringLiteral("备案信息")},
        {"lextendnum1", QStringLiteral("全部")},
        {"lshowbak", QStringLiteral("显示已备案的相关域名")},
        {"lload", QStringLiteral("正在读取数据，请稍候。。。")},
        {"fslide3", QStringLiteral("进度条")},
        {"lslidetext3", QStringLiteral("0%")},
        {"lallnum", QStringLiteral("       ")},
        {"mtool", QStringLiteral("工具")},
        {"mregist", QStringLiteral("域名注册")},
        {"mbak", QStringLiteral("备案查询")},
        {"mwhois", QStringLiteral("WHOIS信息")},
        {"mip", QStringLiteral("IP反查")},
        {"mcommun", QStringLiteral("交流")},
        {"mhome", QStringLiteral("官方网站")},
        {"mbbs", QStringLiteral("论坛")},
        {"mgbook", QStringLiteral("留言本")},
        {"mchat", QStringLiteral("聊天室")},
        {"mhelp", QStringLiteral("帮助")},
        {"mtext", QStringLiteral("内容")},
        {"mabout", QStringLiteral("关于")},
        {"mend", QStringLiteral("退出")},
        {"mweb", QStringLiteral("Norvale网页版")},
    };
    for (const auto &[name, text] : controls)
        QTest::newRow(name) << QString::fromLatin1(name) << text;

    const QStringList extensions{
        QStringLiteral(".com"), QStringLiteral(".net"), QStringLiteral(".org"), QStringLiteral(".info"),
        QStringLiteral(".name"), QStringLiteral(".biz"), QStringLiteral(".us"), QStringLiteral(".uk"),
        QStringLiteral(".eu"), QStringLiteral(".de"), QStringLiteral(".es"), QStringLiteral(".in"),
        QStringLiteral(".co"), QStringLiteral(".asia"), QStringLiteral(".tk"), QStringLiteral(".cn"),
        QStringLiteral(".other")};
    for (int i = 0; i < extensions.size(); ++i) {
        const QString name = u"lextendnum(" % QString::number(i) % u')';
        QTest::newRow(qPrintable(name)) << name << extensions[i];
    }
}

void MainTest::controlsAndCaptions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    MainWindow m;
    const QList<QObject *> found = m.window.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(caption(found.first()), text);
    if (auto *widget = qobject_cast<QWidget *>(found.first()))
        QVERIFY(widget->isEnabled());
    if (auto *action = qobject_cast<QAction *>(found.first()))
        QVERIFY(action->isEnabled());
}

void MainTest::startsIdle()
{
    MainWindow m;
    Fdomain &w = m.window;
    QCOMPARE(w.objectName(), QStringLiteral("Fdomain"));
    QVERIFY(w.lextendnum1()->isChecked());
    for (int i = 0; i < Fdomain::ExtensionCount; ++i)
        QVERIFY2(!w.lextendnum(i)->isChecked(), qPrintable(w.lextendnum(i)->objectName()));
    QVERIFY(!w.lextendnum(Fdomain::ExtensionCount));
    QVERIFY(!w.lextendnum(-1));
    QVERIFY(!w.lshowbak()->isChecked());
    QCOMPARE(w.lallnum()->text(), QStringLiteral("       "));
    QVERIFY(w.lfind()->text().isEmpty());
    QVERIFY(!w.stopflag());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.lload()->isVisible());
    QVERIFY(!w.fslide3()->isVisible());
    QVERIFY(!w.findChild<QWidget *>(QStringLiteral("Frame1"))->isVisible());
    QCOMPARE(w.centralWidget()->size(), QSize(731, 588));
    for (QLabel *label : w.findChildren<QLabel *>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
}

void MainTest::loadSetsUpGrid()
{
    MainWindow m;
    Fdomain &w = m.window;
    w.Load();

    ResultGridView *grid1 = w.grid1();
    QCOMPARE(grid1->objectName(), QStringLiteral("grid1"));
    QCOMPARE(grid1->grid().cols(), 8);
    QCOMPARE(grid1->grid().rows(), 1);
    const QStringList headers{QStringLiteral("域名"), QStringLiteral("选择"), QStringLiteral("编号"),
                              QStringLiteral("域名地址"), QStringLiteral("注册状态"),
                              QStringLiteral("拟售价"), QStringLiteral("备案号"), QStringLiteral("IP")};
    const QList<int> widths{0, 0, 0, 200, 80, 80, 150, 130};
    for (int c = 0; c < 8; ++c) {
        QCOMPARE(grid1->grid().cellText(0, c), headers[c]);
        QCOMPARE(grid1->colWidth(c), widths[c]);
    }
    QCOMPARE(grid1->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(grid1->font().pointSize(), 8);
    QCOMPARE(grid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!grid1->wordWrap());
    QVERIFY(w.ping());
    QCOMPARE(w.pos(), QPoint(7, 7));

    // Load neither asked the data-address service nor ended the program.
    QVERIFY(m.platform.messages().isEmpty());
    QCOMPARE(m.platform.exitRequests(), 0);
    QCOMPARE(w.adodc1().ConnectionString(), QString());
}

void MainTest::loadBindsConnectionInForce()
{
    norvale::test::ServicesProcess services;
    QString error;
    QVERIFY2(services.start(&error), qPrintable(error));

    RecordingPlatform platform;
    ServerDatabase database(platform, services.dataServiceUrl());
    const std::optional<QString> connstr = database.getconnstr();
    QVERIFY(connstr);
    QVERIFY(!connstr->isEmpty());

    Fdomain w(database, platform);
    w.Load();
    QCOMPARE(w.adodc1().ConnectionString(), *connstr);
}

void MainTest::slide_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fillPer1000");  // fill share of the track, in thousandths

    QTest::newRow("half") << 50 << QStringLiteral("50%") << 500;
    QTest::newRow("done") << 100 << QStringLiteral("100%") << 1000;
    QTest::newRow("start") << 0 << QStringLiteral("0%") << 0;
    QTest::newRow("below zero") << -7 << QStringLiteral("0%") << 0;
    QTest::newRow("above done") << 180 << QStringLiteral("100%") << 1000;
}

void MainTest::slide()
{
    QFETCH(int, percent);
    QFETCH(QString, text);
    QFETCH(int, fillPer1000);

    MainWindow m;
    Fdomain &w = m.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.fslide3()->show();
    w.setslide(percent);
    QCOMPARE(w.lslidetext3()->text(), text);
    const int track = w.lslide3()->width();
    QVERIFY(qAbs(w.lslideback3()->width() * 1000 - track * fillPer1000) <= 1000);
    QCOMPARE(w.lslideback3()->x(), w.lslide3()->x());  // grows from the left

    w.resetslide();
    QVERIFY(w.fslide3()->isHidden());
    QCOMPARE(w.lslideback3()->width(), 0);
    QCOMPARE(w.lslidetext3()->text(), QStringLiteral("0%"));
}

void MainTest::activationFocusesKeywordBox()
{
    MainWindow m;
    Fdomain &w = m.window;
    w.Load();
    QSignalSpy activated(&w, &Fdomain::activated);
    w.fslide3()->show();
    w.setslide(40);

    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_VERIFY(activated.count() >= 1);
    QVERIFY(w.fslide3()->isHidden());
    QCOMPARE(w.lslidetext3()->text(), QStringLiteral("0%"));
    QTRY_VERIFY(w.lfind()->hasFocus());
}

void MainTest::backgroundClickFocusesKeywordBox()
{
    MainWindow m;
    Fdomain &w = m.window;
    w.Load();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    QWidget *frame6 = w.findChild<QWidget *>(QStringLiteral("Frame6"));
    const QList<std::pair<QWidget *, QPoint>> spots{
        {frame6, QPoint(690, 30)},           // the panel right of the buttons
        {w.centralWidget(), QPoint(724, 300)},  // the window right of the grid
    };
    for (const auto &[target, at] : spots) {
        QCOMPARE(target->childAt(at), nullptr);
        w.lshowbak()->setFocus();
        QTRY_VERIFY(w.lshowbak()->hasFocus());
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
        QTRY_VERIFY(w.lfind()->hasFocus());
    }
}

void MainTest::endingStopsAndExits_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("close box") << false;
    QTest::newRow("退出") << true;
}

void MainTest::endingStopsAndExits()
{
    QFETCH(bool, byMenu);

    MainWindow m;
    Fdomain &w = m.window;
    w.Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.setStopflag(false);  // as during a search

    if (byMenu)
        w.mend()->trigger();
    else
        QVERIFY(!w.close());  // refused: the process ends instead
    QVERIFY(w.stopflag());
    QCOMPARE(m.platform.exitRequests(), 1);
    QVERIFY(w.isVisible());
    QVERIFY(m.platform.messages().isEmpty());
}

// Every caption is drawn whole in the face that stands in for the original.
void MainTest::captionsFit()
{
    MainWindow m;
    Fdomain &w = m.window;
    w.Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QWidget *frame6 = w.findChild<QWidget *>(QStringLiteral("Frame6"));
    for (QLabel *label : frame6->findChildren<QLabel *>()) {
        const QRect needed = label->fontMetrics().boundingRect(label->text());
        QVERIFY2(needed.width() + std::max(0, label->indent()) <= label->width(),
                 qPrintable(label->objectName()));
        QVERIFY2(label->fontMetrics().height() <= label->height(), qPrintable(label->objectName()));
    }
    for (QAbstractButton *button : frame6->findChildren<QAbstractButton *>()) {
        if (qobject_cast<QCheckBox *>(button)) {
            QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(button->objectName()));
        } else {
            const int text = button->fontMetrics().horizontalAdvance(button->text());
            QVERIFY2(text + 8 <= button->width(), qPrintable(button->objectName()));
        }
    }
}

void MainTest::screenshot()
{
    MainWindow m;
    Fdomain &w = m.window;
    w.Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString folder = QStringLiteral("/tmp/norvale-shots");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(w.grab().save(folder + QStringLiteral("/fdomain.png")));

    // The same window in the middle of a search.
    w.lload()->hide();
    w.fslide3()->show();
    w.setslide(37);
    ResultGridModel &grid = w.grid1()->grid();
    const QStringList row{QStringLiteral("example.com"), {}, {}, QStringLiteral("example.com"),
                          QStringLiteral("未注册"), QStringLiteral("88"), QStringLiteral("京ICP备12345678号-1"),
                          QStringLiteral("192.168.100.200")};
    for (int r = 1; r <= 3; ++r) {
        QVERIFY(grid.setRows(r + 1));
        for (int c = 0; c < row.size(); ++c)
            QVERIFY(grid.setCellText(r, c, row[c]));
    }
    QVERIFY(grid.setCellColor(1, 4, 255));
    QVERIFY(grid.setCellText(2, 4, QStringLiteral("已注册")));
    w.lallnum()->setText(QStringLiteral("找到相关记录  3  条"));
    QVERIFY(w.grab().save(folder + QStringLiteral("/fdomain-midsearch.png")));
}

QTEST_MAIN(MainTest)
#include "MainTest.moc"
