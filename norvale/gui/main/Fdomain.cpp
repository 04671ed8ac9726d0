#include "norvale/gui/main/Fdomain.h"

#include "norvale/core/config/Configuration.h"
#include "norvale/gui/about/Fabout.h"
#include "norvale/gui/about/Fhelp.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/main/FdomainResults.h"
#include "norvale/gui/main/KeywordBox.h"
#include "norvale/gui/main/FdomainSearch.h"
#include "norvale/gui/main/FdomainSettings.h"
#include "norvale/gui/main/FdomainTools.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/gui/main/StatusLegend.h"
#include "norvale/gui/platform/Accessibility.h"
#include "norvale/gui/platform/Twips.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/gui/platform/WindowLayout.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <array>
#include <type_traits>

namespace norvale {

namespace {

// The progress container. Its track starts at its top edge and would hide
// all but a sliver of a painted caption, so the caption is kept as the
// panel's title and not drawn.
class SlidePanel final : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *) override {}
};

// The kind boxes stand in two rows of nine and eight, 1200 twips apart.
QRect extensionBoxRect(int index)
{
    const int column = index % 9;
    const int row = index / 9;
    return twipRect(240 + 1200 * column, 720 + 360 * row, 1095, 375);
}

// A kind box is ticked from the keyboard with Alt and the key in the same
// place on the keyboard as the box on the window: the digits for the first
// row, Q to I for the second; 全部 stands where O is.
constexpr std::array<Qt::Key, kindCount> kindKeys{
    Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5, Qt::Key_6, Qt::Key_7, Qt::Key_8, Qt::Key_9,
    Qt::Key_Q, Qt::Key_W, Qt::Key_E, Qt::Key_R, Qt::Key_T, Qt::Key_Y, Qt::Key_U, Qt::Key_I};

void giveShortcut(QAbstractButton *box, Qt::Key key)
{
    box->setShortcut(QKeySequence(Qt::ALT | key));
    box->setToolTip(box->shortcut().toString(QKeySequence::NativeText));
}

// Where the top panel's controls stand, in twips within their parent, and
// what they say: caption (a group box's title), tool tip, name for a listener.
struct Place {
    const char *name;
    QRect twips;
    const char16_t *text = nullptr;
    const char16_t *toolTip = nullptr;
    const char16_t *accessibleName = nullptr;
};

const Place topPanelPlaces[] = {
    {"Label1", {120, 360, 1455, 255}, u"http://www."},
    {"lfind", {1560, 360, 1740, 270}, nullptr,
     u"输入关键词，回车搜索；粘贴多行则逐个搜索。Alt+数字或字母勾选后缀（见各后缀的提示），F6 转到查询结果", u"关键词"},
    {"lgenerate", {3315, 360, 780, 375}, u"生成…",
     u"生成关键词：按模式生成拼音、声母、数字等关键词，例如 {声母}{声母}{声母}、{数字:AABB}、{拼音:海棠}（Ctrl+G）",
     u"生成关键词"},
    {"limport", {4110, 360, 315, 375}, u"…", u"导入关键词：文本文件，每行一个关键词（UTF-8 或 GBK）", u"导入关键词"},
    {"lsearch", {4440, 360, 735, 375}, u"搜索", u"开始搜索（回车或 F5）"},
    {"lstop", {5400, 360, 735, 375}, u"停止", u"停止搜索（Esc）"},
    {"lregist", {6360, 360, 735, 375}, u"注册"},
    {"lwhois", {7320, 360, 735, 375}, u"WHOIS"},
    {"lip", {8280, 360, 855, 375}, u"IP反查"},
    {"lbak", {9360, 360, 975, 375}, u"备案信息"},
    {"lextendnum1", {9840, 1080, 735, 375}, u"全部"},
    {"lshowbak", {240, 1440, 2535, 375}, u"显示已备案的相关域名"},
    {"lload", {3000, 1560, 2895, 255}, u"正在读取数据，请稍候。。。"},
    {"fslide3", {3000, 1560, 5655, 375}, u"进度条", nullptr, u"进度"},
    {"lslide3", {120, 0, 4935, 270}},
    {"lslideback3", {120, 0, 1695, 255}},
    {"lslidetext3", {5160, 45, 375, 375}},
    {"lkeycount", {8760, 1560, 1700, 255}},
};

void setCaption(QWidget *widget, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        label->setText(text);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        button->setText(text);
    else if (auto *group = qobject_cast<QGroupBox *>(widget))
        group->setTitle(text);
}

// A control of the top panel, made where its row of the table puts it.
template <typename W>
W *made(QWidget *parent, const char *name)
{
    const Place *row = std::find_if(std::begin(topPanelPlaces), std::end(topPanelPlaces),
                                    [name](const Place &p) { return qstrcmp(p.name, name) == 0; });
    Q_ASSERT(row != std::end(topPanelPlaces));
    const QRect &t = row->twips;
    W *widget;
    if constexpr (std::is_base_of_v<QPushButton, W>)
        widget = button(parent, name, QString::fromUtf16(row->text), twipRect(t.x(), t.y(), t.width(), t.height()));
    else
        widget = place<W>(parent, name, twipRect(t.x(), t.y(), t.width(), t.height()));
    if (row->text)
        setCaption(widget, QString::fromUtf16(row->text));
    if (row->toolTip)
        widget->setToolTip(QString::fromUtf16(row->toolTip));
    if (row->accessibleName)
        widget->setAccessibleName(QString::fromUtf16(row->accessibleName));
    return widget;
}

struct Column {
    const char16_t *header;
    int width;
};

constexpr std::array<Column, 8> gridColumns{{
    {u"域名", 0}, {u"选择", 0}, {u"编号", 0}, {u"域名地址", 200},
    {u"注册状态", 80}, {u"拟售价", 80}, {u"备案号", 150}, {u"IP", 130},
}};

} // namespace

Fdomain::Fdomain(ServerDatabase &database, Platform &platform, QWidget *parent)
    // Not owned: the caller keeps the database alive.
    : Fdomain(std::shared_ptr<ServerDatabase>(std::shared_ptr<ServerDatabase>(), &database), platform,
              parent)
{
}

Fdomain::Fdomain(std::shared_ptr<ServerDatabase> database, Platform &platform, QWidget *parent)
    : QMainWindow(parent)
    , m_platform(platform)
{
    setObjectName(QStringLiteral("Fdomain"));
    setWindowTitle(QStringLiteral("Norvale"));
    // Controls other than Label1 and the grid are free in face.
    setFont(windowFace());

    // The designed size is the smallest; the window may grow and be
    // maximised, and the grid takes the room.
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setMinimumSize(twips(ClientWidth), twips(ClientHeight));
    m_client->resize(m_client->minimumSize());
    setCentralWidget(m_client);

    buildTopPanel(m_client);

    m_c.grid1 = new ResultGridView(m_client);
    m_c.grid1->setAccessibleName(QStringLiteral("查询结果"));
    m_c.grid1->setAccessibleDescription(
        QStringLiteral("方向键选择单元格，回车：注册状态查 Whois，备案号查备案，IP 反查，其余复制域名并注册；"
                       "Ctrl+回车按该列排序；F6 回到关键词"));

    // The record counter sits below the grid. Blank until the first search;
    // a screen reader then hears that there is nothing yet.
    m_c.lallnum = place<QLabel>(m_client, "lallnum", {});
    nameWhenBlank(m_c.lallnum, QStringLiteral("尚无查询结果"));
    m_c.lallnum->setText(QStringLiteral("       "));
    buildResultStrip(m_client);

    // The record source's place on the window; never shown.
    m_Frame1 = place<QFrame>(m_client, "Frame1", {});
    m_Frame1->hide();

    buildMenus();

    // No label ever interprets markup, whatever text a search puts there.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);

    m_client->installEventFilter(this);
    m_Frame6->installEventFilter(this);
    resetslide();

    m_tools = std::make_unique<FdomainTools>(*this, database, platform);
    m_search = std::make_unique<FdomainSearch>(*this, std::move(database));
    m_results = std::make_unique<FdomainResults>(*this, platform);
    connectSearch();
    layoutClient();
}

Fdomain::~Fdomain() = default;

void Fdomain::buildTopPanel(QWidget *client)
{
    // The panel starts above the window's edge so that its top border line
    // stays out of sight.
    m_Frame6 = place<QGroupBox>(client, "Frame6", twipRect(0, -120, 10575, 1815));
    m_Frame6->setAccessibleName(QStringLiteral("搜索条件"));

    m_Label1 = made<QLabel>(m_Frame6, "Label1");
    m_Label1->setFont(QFont(QStringLiteral("宋体"), 12));
    m_Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_Label1->setIndent(3);  // clear of the keyword box it abuts
    fitText(m_Label1, m_Label1->text());

    m_c.lfind = made<KeywordBox>(m_Frame6, "lfind");
    m_c.lfind->setMinimumHeight(0);
    // The prefix before the box says what goes in, but not to a listener.
    m_Label1->setBuddy(m_c.lfind);
    // A pasted or imported list is never cut short.
    m_c.lfind->setMaxLength(MaxKeywordText);

    // A keyword list made from a pattern, and one from a text file; both
    // fit between the box and 搜索.
    m_c.lgenerate = made<QPushButton>(m_Frame6, "lgenerate");
    m_c.limport = made<QPushButton>(m_Frame6, "limport");
    m_c.lsearch = made<QPushButton>(m_Frame6, "lsearch");
    m_c.lstop = made<QPushButton>(m_Frame6, "lstop");
    m_c.lregist = made<QPushButton>(m_Frame6, "lregist");
    m_c.lwhois = made<QPushButton>(m_Frame6, "lwhois");
    m_c.lip = made<QPushButton>(m_Frame6, "lip");
    m_c.lbak = made<QPushButton>(m_Frame6, "lbak");
    m_c.lsearch->setShortcut(Qt::Key_F5);
    m_c.lstop->setShortcut(Qt::Key_Escape);

    for (int i = 0; i < ExtensionCount; ++i) {
        auto *box = new QCheckBox(m_Frame6);
        box->setObjectName(u"lextendnum(" % QString::number(i) % u')');
        // The caption is the kind the search sends to the price table.
        box->setText(extensionKinds()[std::size_t(i)]);
        box->setGeometry(extensionBoxRect(i));
        giveShortcut(box, kindKeys[std::size_t(i)]);
        m_c.lextendnum[std::size_t(i)] = box;
    }
    m_c.lextendnum1 = made<QCheckBox>(m_Frame6, "lextendnum1");
    m_c.lextendnum1->setChecked(true);
    giveShortcut(m_c.lextendnum1, Qt::Key_O);
    m_c.lshowbak = made<QCheckBox>(m_Frame6, "lshowbak");
    giveShortcut(m_c.lshowbak, Qt::Key_A);

    m_c.lload = made<QLabel>(m_Frame6, "lload");
    fitText(m_c.lload, m_c.lload->text());

    m_c.fslide3 = made<SlidePanel>(m_Frame6, "fslide3");
    readAsProgressBar(m_c.fslide3);
    m_c.lslide3 = made<QLineEdit>(m_c.fslide3, "lslide3");
    m_c.lslide3->setReadOnly(true);
    m_c.lslide3->setFocusPolicy(Qt::NoFocus);
    m_c.lslide3->setMinimumHeight(0);
    // Drawn over the track; its width is the done share of the track's.
    m_c.lslideback3 = made<QFrame>(m_c.fslide3, "lslideback3");
    m_c.lslideback3->setAutoFillBackground(true);
    QPalette black = m_c.lslideback3->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_c.lslideback3->setPalette(black);
    m_c.lslidetext3 = made<QLabel>(m_c.fslide3, "lslidetext3");
    m_c.lslidetext3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fitText(m_c.lslidetext3, QStringLiteral("100%"));

    // How many keywords lfind holds, shown while it holds a list.
    m_c.lkeycount = made<QLabel>(m_Frame6, "lkeycount");
    fitText(m_c.lkeycount, QStringLiteral("共 1000000 个关键词"));
    m_c.lkeycount->hide();
}

void Fdomain::buildResultStrip(QWidget *client)
{
    m_c.llegend = place<QLabel>(client, "llegend", {});
    m_c.llegend->setToolTip(statusLegend());
    // Its text may be cut short with "…" to fit; a listener hears it whole.
    m_c.llegend->setAccessibleName(statusLegendShort());

    m_c.lonlyfree = place<QCheckBox>(client, "lonlyfree", {});
    m_c.lonlyfree->setText(QStringLiteral("只看未注册"));
    m_c.lonlyfree->setToolTip(QStringLiteral("只显示未注册（可注册）的域名；搜索写入的行不变"));

    m_c.lexport = button(client, "lexport", QStringLiteral("导出…"), {});
    m_c.lexport->setToolTip(QStringLiteral("把表格中显示的行导出为 CSV 或 JSON 文件"));
}

void Fdomain::layoutClient()
{
    const int extraWidth = std::max(0, m_client->width() - twips(ClientWidth));
    const int extraHeight = std::max(0, m_client->height() - twips(ClientHeight));
    m_Frame6->setGeometry(twipRect(0, -120, 10575, 1815).adjusted(0, 0, extraWidth, 0));
    m_c.grid1->setGeometry(twipRect(240, 1800, 10500, 6495).adjusted(0, 0, extraWidth, extraHeight));

    // Below the grid: the counter, wide enough for any count, then the
    // legend, and the filter and export at the grid's right edge.
    const QFontMetrics metrics = m_c.lallnum->fontMetrics();
    const int top = twips(8400) + extraHeight;
    const int lineHeight = std::max(twips(255), metrics.height());
    const int middle = top + lineHeight / 2;
    const int gap = twips(120);
    m_c.lallnum->setGeometry(twips(240), top,
                           metrics.horizontalAdvance(QStringLiteral("找到相关记录  1000000  条")) + 4, lineHeight);

    const int right = m_c.grid1->geometry().right() + 1;
    const QSize exportSize(std::max(twips(735), m_c.lexport->sizeHint().width()), twips(375));
    m_c.lexport->setGeometry(QRect(QPoint(right - exportSize.width(), middle - exportSize.height() / 2), exportSize));
    const QSize filterSize = m_c.lonlyfree->sizeHint();
    m_c.lonlyfree->setGeometry(QRect(QPoint(m_c.lexport->x() - gap - filterSize.width(), middle - filterSize.height() / 2),
                                   filterSize));

    const int legendLeft = m_c.lallnum->geometry().right() + 1 + gap;
    const int legendWidth = std::max(0, m_c.lonlyfree->x() - gap - legendLeft);
    m_c.llegend->setGeometry(legendLeft, top, legendWidth, lineHeight);
    m_c.llegend->setText(m_c.llegend->fontMetrics().elidedText(statusLegendShort(), Qt::ElideRight, legendWidth));
}

void Fdomain::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menubar"));
    bar->setAccessibleName(QStringLiteral("菜单栏"));

    auto menu = [bar](const char *name, const QString &title) {
        QMenu *m = bar->addMenu(title);
        m->setObjectName(QLatin1StringView(name));
        m->setAccessibleName(title);  // the open menu reads as its entry
        return m;
    };
    // The captions carry no mnemonic (they are fixed texts); the entries
    // used most have shortcuts, shown beside them.
    auto entry = [](QWidget *owner, const char *name, const QString &caption, const QKeySequence &keys = {}) {
        auto *action = new QAction(caption, owner);
        action->setObjectName(QLatin1StringView(name));
        action->setShortcut(keys);
        owner->addAction(action);
        return action;
    };

    QMenu *mtool = menu("mtool", QStringLiteral("工具"));
    m_c.mregist = entry(mtool, "mregist", QStringLiteral("域名注册"), Qt::CTRL | Qt::Key_R);
    m_c.mbak = entry(mtool, "mbak", QStringLiteral("备案查询"), Qt::CTRL | Qt::Key_B);
    m_c.mwhois = entry(mtool, "mwhois", QStringLiteral("WHOIS信息"), Qt::CTRL | Qt::Key_W);
    m_c.mip = entry(mtool, "mip", QStringLiteral("IP反查"), Qt::CTRL | Qt::Key_I);
    mtool->addSeparator();
    m_c.mgenerate = entry(mtool, "mgenerate", QStringLiteral("生成关键词…"), Qt::CTRL | Qt::Key_G);
    m_c.mimport = entry(mtool, "mimport", QStringLiteral("导入关键词…"), QKeySequence::Open);
    m_c.mexport = entry(mtool, "mexport", QStringLiteral("导出结果…"), QKeySequence::Save);
    mtool->addSeparator();
    // Off by default: the window starts with "全部" ticked and the related
    // domains clear unless the user asks to keep the ticks.
    m_c.mremember = entry(mtool, "mremember", QStringLiteral("记住勾选"));
    m_c.mremember->setCheckable(true);

    QMenu *mcommun = menu("mcommun", QStringLiteral("交流"));
    m_c.mhome = entry(mcommun, "mhome", QStringLiteral("官方网站"));
    m_c.mbbs = entry(mcommun, "mbbs", QStringLiteral("论坛"));
    m_c.mgbook = entry(mcommun, "mgbook", QStringLiteral("留言本"));
    m_c.mchat = entry(mcommun, "mchat", QStringLiteral("聊天室"));

    QMenu *mhelp = menu("mhelp", QStringLiteral("帮助"));
    m_c.mtext = entry(mhelp, "mtext", QStringLiteral("内容"), QKeySequence::HelpContents);
    m_c.mabout = entry(mhelp, "mabout", QStringLiteral("关于"));
    connect(m_c.mtext, &QAction::triggered, this, [this] {
        // One viewer at a time; closing destroys it, so the next reads the file anew.
        if (!m_help)
            m_help = new Fhelp(QCoreApplication::applicationDirPath(), this);
        m_help->show();
        m_help->raise();
        m_help->activateWindow();
    });
    connect(m_c.mabout, &QAction::triggered, this, [this] {
        // The about window holds the configuration: while it loads, the
        // entry waits for it like the others.
        m_tools->whenConfigured([this] {
            if (!m_about)
                return;
            m_about->show();
            m_about->raise();
            m_about->activateWindow();
            m_about->checkimg();
        });
    });

    m_c.mend = entry(bar, "mend", QStringLiteral("退出"));
    m_c.mweb = entry(bar, "mweb", QStringLiteral("Norvale网页版"));

    connect(m_c.mend, &QAction::triggered, this, &Fdomain::endProgram);

    // F10 opens the menu bar at its first menu, as on other Linux desktops;
    // the arrows then walk the menus.
    auto *openMenus = new QShortcut(Qt::Key_F10, this);
    connect(openMenus, &QShortcut::activated, this, [bar, mtool] { bar->setActiveAction(mtool->menuAction()); });
    // F6 goes between the keyword box and the grid, past the many kind
    // boxes Tab would walk through.
    auto *otherPane = new QShortcut(Qt::Key_F6, this);
    connect(otherPane, &QShortcut::activated, this, [this] {
        if (m_c.grid1->hasFocus())
            m_c.lfind->setFocus(Qt::ShortcutFocusReason);
        else
            m_c.grid1->setFocus(Qt::ShortcutFocusReason);
    });
}

void Fdomain::connectSearch()
{
    connect(m_c.lsearch, &QPushButton::clicked, m_search.get(), &FdomainSearch::run);
    connect(m_c.lfind, &QLineEdit::returnPressed, m_search.get(), &FdomainSearch::run);
    connect(m_c.lstop, &QPushButton::clicked, m_search.get(), &FdomainSearch::stop);

    // The user's clicks only; the search reads the ticks it needs from its
    // own copy, which follows every change.
    for (QCheckBox *box : m_c.lextendnum) {
        connect(box, &QCheckBox::clicked, this, [this](bool ticked) {
            if (ticked)
                m_c.lextendnum1->setChecked(false);
            m_c.lfind->setFocus();
        });
    }
    connect(m_c.lextendnum1, &QCheckBox::clicked, this, [this](bool ticked) {
        if (ticked) {
            for (QCheckBox *box : m_c.lextendnum)
                box->setChecked(false);
        }
        m_c.lfind->setFocus();
    });
}

void Fdomain::setConfiguration(const Configuration &config)
{
    m_tools->setConfiguration(config);
    config.whenLoaded(this, [this, &config] { m_search->setStatusPageBase(config.text(ConfigKey::StatusPage)); });
}

void Fdomain::setAbout(Fabout *about)
{
    m_about = about;
}

void Fdomain::Load()
{
    ResultGridModel &grid = m_c.grid1->grid();
    m_c.grid1->setGridFont(QStringLiteral("Tahoma"), 8);
    grid.setCols(int(gridColumns.size()));
    grid.setRows(1);
    for (int col = 0; col < int(gridColumns.size()); ++col) {
        const Column &c = gridColumns[std::size_t(col)];
        m_c.grid1->setColWidth(col, c.width);
        grid.setCellText(ResultGrid::HeaderRow, col, QString::fromUtf16(c.header));
    }

    // The frame, not the client area, goes to the given place, so that the
    // title bar stays on the screen. Qt places the frame only while the
    // window's size is settled before it is shown: the layout's own resize
    // at show time would otherwise make the place the client area's.
    layout()->activate();
    resize(minimumSize());
    move(twips(100), twips(100));
}

void Fdomain::rememberIn(const QString &settingsFile)
{
    m_settingsFile = settingsFile;
    restoreWindowSettings(*this, settingsFile);
}

void Fdomain::saveSettings() const
{
    if (!m_settingsFile.isEmpty())
        saveWindowSettings(*this, m_settingsFile);
}

void Fdomain::Activate()
{
    emit activated();
    if (!m_search->isRunning())
        resetslide();
    m_c.lfind->setFocus();
}

void Fdomain::resetslide()
{
    m_c.fslide3->hide();
    m_c.lslideback3->resize(0, m_c.lslideback3->height());
    m_c.lslidetext3->setText(QStringLiteral("0%"));
    setProgress(m_c.fslide3, 0);
}

void Fdomain::setslide(int percent)
{
    percent = std::clamp(percent, 0, 100);
    m_c.lslidetext3->setText(QString::number(percent) % u'%');
    m_c.lslideback3->resize((m_c.lslide3->width() * percent + 50) / 100, m_c.lslideback3->height());
    setProgress(m_c.fslide3, percent);
}

void Fdomain::endProgram()
{
    // Stopping first costs nothing and leaves no search writing to a window
    // whose process is ending; nobody waits for the workers.
    m_search->stop();
    saveSettings();
    m_platform.exitNow(0);
}

bool Fdomain::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        Activate();
    return QMainWindow::event(event);
}

// The program ends here whatever the window does, so the close itself is
// refused.
void Fdomain::closeEvent(QCloseEvent *event)
{
    event->ignore();
    endProgram();
}

bool Fdomain::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_client || watched == m_Frame6) && event->type() == QEvent::MouseButtonPress)
        m_c.lfind->setFocus();
    if (watched == m_client && event->type() == QEvent::Resize)
        layoutClient();
    return QMainWindow::eventFilter(watched, event);
}

} // namespace norvale
