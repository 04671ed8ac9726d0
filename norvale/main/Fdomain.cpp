#include "norvale/main/Fdomain.h"

#include "norvale/about/Fabout.h"
#include "norvale/about/Fhelp.h"
#include "norvale/data/ServerDatabase.h"
#include "norvale/main/FdomainResults.h"
#include "norvale/main/KeywordBox.h"
#include "norvale/main/FdomainSearch.h"
#include "norvale/main/FdomainSettings.h"
#include "norvale/main/FdomainTools.h"
#include "norvale/main/ResultGridView.h"
#include "norvale/main/StatusLegend.h"
#include "norvale/platform/Accessibility.h"
#include "norvale/platform/Twips.h"
#include "norvale/platform/Platform.h"
#include "norvale/platform/WindowLayout.h"
#include "norvale/startup/FontSubstitutes.h"

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
    installFontSubstitutes();
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

    m_grid1 = new ResultGridView(m_client);
    m_grid1->setAccessibleName(QStringLiteral("查询结果"));
    m_grid1->setAccessibleDescription(
        QStringLiteral("方向键选择单元格，回车：注册状态查 Whois，备案号查备案，IP 反查，其余复制域名并注册；"
                       "Ctrl+回车按该列排序；F6 回到关键词"));

    // The record counter sits below the grid. Blank until the first search;
    // a screen reader then hears that there is nothing yet.
    m_lallnum = place<QLabel>(m_client, "lallnum", {});
    nameWhenBlank(m_lallnum, QStringLiteral("尚无查询结果"));
    m_lallnum->setText(QStringLiteral("       "));
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

    m_Label1 = place<QLabel>(m_Frame6, "Label1", twipRect(120, 360, 1455, 255));
    m_Label1->setFont(QFont(QStringLiteral("宋体"), 12));
    m_Label1->setText(QStringLiteral("http://www."));
    m_Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_Label1->setIndent(3);  // clear of the keyword box it abuts
    fitText(m_Label1, m_Label1->text());

    m_lfind = place<KeywordBox>(m_Frame6, "lfind", twipRect(1560, 360, 1740, 270));
    m_lfind->setMinimumHeight(0);
    // The prefix before the box says what goes in, but not to a listener.
    m_Label1->setBuddy(m_lfind);
    m_lfind->setAccessibleName(QStringLiteral("关键词"));

    // A keyword list made from a pattern, and one from a text file; both
    // fit between the box and 搜索.
    m_lgenerate = button(m_Frame6, "lgenerate", QStringLiteral("生成…"), twipRect(3315, 360, 780, 375));
    m_lgenerate->setToolTip(QStringLiteral("生成关键词：按模式生成拼音、声母、数字等关键词，"
                                           "例如 {声母}{声母}{声母}、{数字:AABB}、{拼音:海棠}（Ctrl+G）"));
    m_lgenerate->setAccessibleName(QStringLiteral("生成关键词"));
    m_limport = button(m_Frame6, "limport", QStringLiteral("…"), twipRect(4110, 360, 315, 375));
    m_limport->setToolTip(QStringLiteral("导入关键词：文本文件，每行一个关键词（UTF-8 或 GBK）"));
    m_limport->setAccessibleName(QStringLiteral("导入关键词"));
    m_lfind->setToolTip(QStringLiteral("输入关键词，回车搜索；粘贴多行则逐个搜索。"
                                       "Alt+数字或字母勾选后缀（见各后缀的提示），F6 转到查询结果"));
    // A pasted or imported list is never cut short.
    m_lfind->setMaxLength(MaxKeywordText);

    m_lsearch = button(m_Frame6, "lsearch", QStringLiteral("搜索"), twipRect(4440, 360, 735, 375));
    m_lstop = button(m_Frame6, "lstop", QStringLiteral("停止"), twipRect(5400, 360, 735, 375));
    m_lregist = button(m_Frame6, "lregist", QStringLiteral("注册"), twipRect(6360, 360, 735, 375));
    m_lwhois = button(m_Frame6, "lwhois", QStringLiteral("WHOIS"), twipRect(7320, 360, 735, 375));
    m_lip = button(m_Frame6, "lip", QStringLiteral("IP反查"), twipRect(8280, 360, 855, 375));
    m_lbak = button(m_Frame6, "lbak", QStringLiteral("备案信息"), twipRect(9360, 360, 975, 375));
    m_lsearch->setShortcut(Qt::Key_F5);
    m_lstop->setShortcut(Qt::Key_Escape);
    m_lsearch->setToolTip(QStringLiteral("开始搜索（回车或 F5）"));
    m_lstop->setToolTip(QStringLiteral("停止搜索（Esc）"));

    for (int i = 0; i < ExtensionCount; ++i) {
        auto *box = new QCheckBox(m_Frame6);
        box->setObjectName(u"lextendnum(" % QString::number(i) % u')');
        // The caption is the kind the search sends to the price table.
        box->setText(extensionKinds()[std::size_t(i)]);
        box->setGeometry(extensionBoxRect(i));
        giveShortcut(box, kindKeys[std::size_t(i)]);
        m_lextendnum[std::size_t(i)] = box;
    }
    m_lextendnum1 = place<QCheckBox>(m_Frame6, "lextendnum1", twipRect(9840, 1080, 735, 375));
    m_lextendnum1->setText(QStringLiteral("全部"));
    m_lextendnum1->setChecked(true);
    giveShortcut(m_lextendnum1, Qt::Key_O);

    m_lshowbak = place<QCheckBox>(m_Frame6, "lshowbak", twipRect(240, 1440, 2535, 375));
    m_lshowbak->setText(QStringLiteral("显示已备案的相关域名"));
    giveShortcut(m_lshowbak, Qt::Key_A);

    m_lload = place<QLabel>(m_Frame6, "lload", twipRect(3000, 1560, 2895, 255));
    m_lload->setText(QStringLiteral("正在读取数据，请稍候。。。"));
    fitText(m_lload, m_lload->text());

    m_fslide3 = new SlidePanel(m_Frame6);
    m_fslide3->setObjectName(QStringLiteral("fslide3"));
    m_fslide3->setGeometry(twipRect(3000, 1560, 5655, 375));
    m_fslide3->setTitle(QStringLiteral("进度条"));
    m_fslide3->setAccessibleName(QStringLiteral("进度"));
    readAsProgressBar(m_fslide3);

    m_lslide3 = place<QLineEdit>(m_fslide3, "lslide3", twipRect(120, 0, 4935, 270));
    m_lslide3->setReadOnly(true);
    m_lslide3->setFocusPolicy(Qt::NoFocus);
    m_lslide3->setMinimumHeight(0);

    // Drawn over the track; its width is the done share of the track's.
    m_lslideback3 = place<QFrame>(m_fslide3, "lslideback3", twipRect(120, 0, 1695, 255));
    m_lslideback3->setAutoFillBackground(true);
    QPalette black = m_lslideback3->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_lslideback3->setPalette(black);

    m_lslidetext3 = place<QLabel>(m_fslide3, "lslidetext3", twipRect(5160, 45, 375, 375));
    m_lslidetext3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fitText(m_lslidetext3, QStringLiteral("100%"));

    // How many keywords lfind holds, shown while it holds a list.
    m_lkeycount = place<QLabel>(m_Frame6, "lkeycount", twipRect(8760, 1560, 1700, 255));
    fitText(m_lkeycount, QStringLiteral("共 1000000 个关键词"));
    m_lkeycount->hide();
}

void Fdomain::buildResultStrip(QWidget *client)
{
    m_llegend = place<QLabel>(client, "llegend", {});
    m_llegend->setToolTip(statusLegend());
    // Its text may be cut short with "…" to fit; a listener hears it whole.
    m_llegend->setAccessibleName(statusLegendShort());

    m_lonlyfree = place<QCheckBox>(client, "lonlyfree", {});
    m_lonlyfree->setText(QStringLiteral("只看未注册"));
    m_lonlyfree->setToolTip(QStringLiteral("只显示未注册（可注册）的域名；搜索写入的行不变"));

    m_lexport = button(client, "lexport", QStringLiteral("导出…"), {});
    m_lexport->setToolTip(QStringLiteral("把表格中显示的行导出为 CSV 或 JSON 文件"));
}

void Fdomain::layoutClient()
{
    const int extraWidth = std::max(0, m_client->width() - twips(ClientWidth));
    const int extraHeight = std::max(0, m_client->height() - twips(ClientHeight));
    m_Frame6->setGeometry(twipRect(0, -120, 10575, 1815).adjusted(0, 0, extraWidth, 0));
    m_grid1->setGeometry(twipRect(240, 1800, 10500, 6495).adjusted(0, 0, extraWidth, extraHeight));

    // Below the grid: the counter, wide enough for any count, then the
    // legend, and the filter and export at the grid's right edge.
    const QFontMetrics metrics = m_lallnum->fontMetrics();
    const int top = twips(8400) + extraHeight;
    const int lineHeight = std::max(twips(255), metrics.height());
    const int middle = top + lineHeight / 2;
    const int gap = twips(120);
    m_lallnum->setGeometry(twips(240), top,
                           metrics.horizontalAdvance(QStringLiteral("找到相关记录  1000000  条")) + 4, lineHeight);

    const int right = m_grid1->geometry().right() + 1;
    const QSize exportSize(std::max(twips(735), m_lexport->sizeHint().width()), twips(375));
    m_lexport->setGeometry(QRect(QPoint(right - exportSize.width(), middle - exportSize.height() / 2), exportSize));
    const QSize filterSize = m_lonlyfree->sizeHint();
    m_lonlyfree->setGeometry(QRect(QPoint(m_lexport->x() - gap - filterSize.width(), middle - filterSize.height() / 2),
                                   filterSize));

    const int legendLeft = m_lallnum->geometry().right() + 1 + gap;
    const int legendWidth = std::max(0, m_lonlyfree->x() - gap - legendLeft);
    m_llegend->setGeometry(legendLeft, top, legendWidth, lineHeight);
    m_llegend->setText(m_llegend->fontMetrics().elidedText(statusLegendShort(), Qt::ElideRight, legendWidth));
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
    m_mregist = entry(mtool, "mregist", QStringLiteral("域名注册"), Qt::CTRL | Qt::Key_R);
    m_mbak = entry(mtool, "mbak", QStringLiteral("备案查询"), Qt::CTRL | Qt::Key_B);
    m_mwhois = entry(mtool, "mwhois", QStringLiteral("WHOIS信息"), Qt::CTRL | Qt::Key_W);
    m_mip = entry(mtool, "mip", QStringLiteral("IP反查"), Qt::CTRL | Qt::Key_I);
    mtool->addSeparator();
    m_mgenerate = entry(mtool, "mgenerate", QStringLiteral("生成关键词…"), Qt::CTRL | Qt::Key_G);
    m_mimport = entry(mtool, "mimport", QStringLiteral("导入关键词…"), QKeySequence::Open);
    m_mexport = entry(mtool, "mexport", QStringLiteral("导出结果…"), QKeySequence::Save);
    mtool->addSeparator();
    // Off by default: the window starts with "全部" ticked and the related
    // domains clear unless the user asks to keep the ticks.
    m_mremember = entry(mtool, "mremember", QStringLiteral("记住勾选"));
    m_mremember->setCheckable(true);

    QMenu *mcommun = menu("mcommun", QStringLiteral("交流"));
    m_mhome = entry(mcommun, "mhome", QStringLiteral("官方网站"));
    m_mbbs = entry(mcommun, "mbbs", QStringLiteral("论坛"));
    m_mgbook = entry(mcommun, "mgbook", QStringLiteral("留言本"));
    m_mchat = entry(mcommun, "mchat", QStringLiteral("聊天室"));

    QMenu *mhelp = menu("mhelp", QStringLiteral("帮助"));
    m_mtext = entry(mhelp, "mtext", QStringLiteral("内容"), QKeySequence::HelpContents);
    m_mabout = entry(mhelp, "mabout", QStringLiteral("关于"));
    connect(m_mtext, &QAction::triggered, this, [this] {
        // One viewer at a time; closing destroys it, so the next reads the file anew.
        if (!m_help)
            m_help = new Fhelp(QCoreApplication::applicationDirPath(), this);
        m_help->show();
        m_help->raise();
        m_help->activateWindow();
    });
    connect(m_mabout, &QAction::triggered, this, [this] {
        // The about window holds the configuration: while it loads, the
        // entry waits for it like the others.
        m_tools->whenConfigured([this] {
            m_about->show();
            m_about->raise();
            m_about->activateWindow();
            m_about->checkimg();
        });
    });

    m_mend = entry(bar, "mend", QStringLiteral("退出"));
    m_mweb = entry(bar, "mweb", QStringLiteral("Norvale网页版"));

    connect(m_mend, &QAction::triggered, this, &Fdomain::endProgram);

    // F10 opens the menu bar at its first menu, as on other Linux desktops;
    // the arrows then walk the menus.
    auto *openMenus = new QShortcut(Qt::Key_F10, this);
    connect(openMenus, &QShortcut::activated, this, [bar, mtool] { bar->setActiveAction(mtool->menuAction()); });
    // F6 goes between the keyword box and the grid, past the many kind
    // boxes Tab would walk through.
    auto *otherPane = new QShortcut(Qt::Key_F6, this);
    connect(otherPane, &QShortcut::activated, this, [this] {
        if (m_grid1->hasFocus())
            m_lfind->setFocus(Qt::ShortcutFocusReason);
        else
            m_grid1->setFocus(Qt::ShortcutFocusReason);
    });
}

void Fdomain::connectSearch()
{
    connect(m_lsearch, &QPushButton::clicked, m_search.get(), &FdomainSearch::run);
    connect(m_lfind, &QLineEdit::returnPressed, m_search.get(), &FdomainSearch::run);
    connect(m_lstop, &QPushButton::clicked, m_search.get(), &FdomainSearch::stop);

    // The user's clicks only; the search reads the ticks it needs from its
    // own copy, which follows every change.
    for (QCheckBox *box : m_lextendnum) {
        connect(box, &QCheckBox::clicked, this, [this](bool ticked) {
            if (ticked)
                m_lextendnum1->setChecked(false);
            m_lfind->setFocus();
        });
    }
    connect(m_lextendnum1, &QCheckBox::clicked, this, [this](bool ticked) {
        if (ticked) {
            for (QCheckBox *box : m_lextendnum)
                box->setChecked(false);
        }
        m_lfind->setFocus();
    });
}

void Fdomain::setAbout(Fabout *about)
{
    m_about = about;
    m_search->setStatusPageBase(about ? about->value(QLatin1StringView("ldomainurl")) : QString());
    m_tools->setAbout(about);
}

Fabout *Fdomain::about() const
{
    return m_about;
}

QCheckBox *Fdomain::lextendnum(int index) const
{
    if (index < 0 || index >= ExtensionCount)
        return nullptr;
    return m_lextendnum[std::size_t(index)];
}

void Fdomain::Load()
{
    ResultGridModel &grid = m_grid1->grid();
    m_grid1->setGridFont(QStringLiteral("Tahoma"), 8);
    grid.setCols(int(gridColumns.size()));
    grid.setRows(1);
    for (int col = 0; col < int(gridColumns.size()); ++col) {
        const Column &c = gridColumns[std::size_t(col)];
        m_grid1->setColWidth(col, c.width);
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
    m_lfind->setFocus();
}

void Fdomain::resetslide()
{
    m_fslide3->hide();
    m_lslideback3->resize(0, m_lslideback3->height());
    m_lslidetext3->setText(QStringLiteral("0%"));
    setProgress(m_fslide3, 0);
}

void Fdomain::setslide(int percent)
{
    percent = std::clamp(percent, 0, 100);
    m_lslidetext3->setText(QString::number(percent) % u'%');
    m_lslideback3->resize((m_lslide3->width() * percent + 50) / 100, m_lslideback3->height());
    setProgress(m_fslide3, percent);
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
        m_lfind->setFocus();
    if (watched == m_client && event->type() == QEvent::Resize)
        layoutClient();
    return QMainWindow::eventFilter(watched, event);
}

} // namespace norvale
