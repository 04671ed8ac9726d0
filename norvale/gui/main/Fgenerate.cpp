#include "norvale/gui/main/Fgenerate.h"

#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/KeywordBox.h"
#include "norvale/gui/main/FdomainSearch.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/gui/platform/WindowLayout.h"
#include "norvale/core/work/HandOver.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace norvale {

namespace {

const QString &programName()
{
    static const QString name = QStringLiteral("Norvale");
    return name;
}

// A job for the dialog's worker, handed over where the thread sanitizer sees it.
template <typename Task>
void startOn(QThreadPool &pool, Task task)
{
    const work::HandOverScope giving;
    pool.start(new work::PoolTask<Task>(std::move(task)));
}

quint64 timesSaturating(quint64 a, quint64 b)
{
    if (a != 0 && b > KeywordPattern::saturated / a)
        return KeywordPattern::saturated;
    return a * b;
}

QString number(quint64 n)
{
    return QLocale().toString(n);
}

// A count that reached the top of 64 bits is only a bound.
QString amount(quint64 n)
{
    return n == KeywordPattern::saturated ? QStringLiteral("超过 ") + number(n) : number(n);
}

// Pattern on the left, what it makes on the right: what a trader types.
constexpr const char16_t *examples[][2] = {
    {u"{声母}{声母}{声母}", u"三声母（8000 个）"},
    {u"{音节}{音节}", u"双拼"},
    {u"{数字:AABB}", u"AABB 型数字（90 个）；ABAB、AAAB、ABC 同理"},
    {u"{数字:4}不含4", u"不含 4 的四位数字"},
    {u"{拼音:海棠}", u"全拼和首字母：haitang、ht；多音字写 长(chang)沙"},
    {u"{前缀:my,get}{拼音:北京}{后缀:,app}", u"加前缀、后缀，空项表示不加"},
    {u"{韵母} {字母} {字母数字} {a,b,c}", u"韵母、字母、字母或数字、自选列表"},
};

} // namespace

struct Fgenerate::Evaluation {
    quint64 number = 0;
    std::optional<KeywordPattern> pattern;
    QString error;
    QStringList sample;
};

Fgenerate::Fgenerate(Fdomain &window, Platform &platform)
    : QDialog(&window)
    , m_window(window)
    , m_platform(platform)
{
    setObjectName(QStringLiteral("Fgenerate"));
    setWindowTitle(QStringLiteral("生成关键词"));
    setFont(windowFace());
    m_work.setMaxThreadCount(1);

    auto *layout = new QVBoxLayout(this);

    layout->addWidget(new QLabel(QStringLiteral("按模式生成关键词，例如："), this));
    auto *help = new QGridLayout;
    help->setContentsMargins(12, 0, 0, 0);
    help->setHorizontalSpacing(16);
    for (int i = 0; i < int(std::size(examples)); ++i) {
        for (int c = 0; c < 2; ++c) {
            auto *cell = new QLabel(QString::fromUtf16(examples[i][c]), this);
            cell->setTextFormat(Qt::PlainText);
            cell->setTextInteractionFlags(Qt::TextSelectableByMouse);
            help->addWidget(cell, i, c);
        }
    }
    help->setColumnStretch(1, 1);
    layout->addLayout(help);

    auto *patternRow = new QHBoxLayout;
    auto *caption = new QLabel(QStringLiteral("模式："), this);
    m_lpattern = new QLineEdit(this);
    m_lpattern->setObjectName(QStringLiteral("lpattern"));
    m_lpattern->setAccessibleName(QStringLiteral("关键词模式"));
    m_lpattern->setPlaceholderText(QStringLiteral("例如 {声母}{声母}{声母}"));
    m_lpattern->setMaxLength(int(KeywordPattern::maxPatternLength));
    caption->setBuddy(m_lpattern);
    patternRow->addWidget(caption);
    patternRow->addWidget(m_lpattern, 1);
    layout->addLayout(patternRow);

    m_lcount = new QLabel(this);
    m_lcount->setObjectName(QStringLiteral("lcount"));
    m_lcount->setTextFormat(Qt::PlainText);
    m_lcount->setWordWrap(true);
    layout->addWidget(m_lcount);

    auto *sampleCaption = new QLabel(QStringLiteral("前 %1 个关键词：").arg(SampleSize), this);
    layout->addWidget(sampleCaption);
    m_lsample = new QPlainTextEdit(this);
    m_lsample->setObjectName(QStringLiteral("lsample"));
    m_lsample->setAccessibleName(QStringLiteral("前 %1 个关键词").arg(SampleSize));
    m_lsample->setReadOnly(true);
    m_lsample->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Ten lines in view, the rest a scroll away.
    m_lsample->setMinimumHeight(m_lsample->fontMetrics().lineSpacing() * 10 + 12);
    sampleCaption->setBuddy(m_lsample);
    layout->addWidget(m_lsample, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_lok = new QPushButton(QStringLiteral("生成并搜索"), this);
    m_lok->setObjectName(QStringLiteral("lok"));
    m_lok->setDefault(true);
    m_lok->setEnabled(false);
    m_lok->setToolTip(QStringLiteral("把生成的关键词放进关键词框，并按勾选的后缀搜索"));
    m_lcancel = new QPushButton(QStringLiteral("取消"), this);
    m_lcancel->setObjectName(QStringLiteral("lcancel"));
    m_lcancel->setAutoDefault(false);
    buttons->addWidget(m_lok);
    buttons->addWidget(m_lcancel);
    layout->addLayout(buttons);

    connect(m_lpattern, &QLineEdit::textChanged, this, &Fgenerate::evaluate);
    connect(m_lok, &QPushButton::clicked, this, &Fgenerate::handOver);
    connect(m_lcancel, &QPushButton::clicked, this, &QDialog::reject);
    // The candidates follow the kinds ticked while the dialog is open.
    for (int i = 0; i < Fdomain::ExtensionCount; ++i)
        connect(window.controls().lextendnum[std::size_t(i)], &QCheckBox::toggled, this, &Fgenerate::showCount);
    connect(window.controls().lextendnum1, &QCheckBox::toggled, this, &Fgenerate::showCount);
    evaluate();
}

Fgenerate::~Fgenerate() = default;

int Fgenerate::tickedKinds() const
{
    if (m_window.controls().lextendnum1->isChecked())
        return Fdomain::ExtensionCount;
    int ticked = 0;
    for (int i = 0; i < Fdomain::ExtensionCount; ++i)
        ticked += m_window.controls().lextendnum[std::size_t(i)]->isChecked() ? 1 : 0;
    return ticked;
}

void Fgenerate::evaluate()
{
    const quint64 number = ++m_latest;
    m_lok->setEnabled(false);
    const QString text = m_lpattern->text();
    startOn(m_work, [this, number, text] {
        // A newer text is on its way; its own job answers.
        if (number != m_latest.load())
            return;
        Evaluation result;
        result.number = number;
        if (text.trimmed().isEmpty()) {
            result.error = QStringLiteral("请输入模式");
        } else {
            PatternError error;
            result.pattern = KeywordPattern::parse(text, &error);
            if (!result.pattern)
                result.error = error.text();
        }
        if (result.pattern) {
            KeywordPattern::Generator generator = result.pattern->generate();
            std::string keyword;
            while (result.sample.size() < SampleSize && generator.next(keyword))
                result.sample.append(QString::fromLatin1(keyword));
        }
        work::postTo(this, [this, result] { present(result); });
    });
}

void Fgenerate::present(const Evaluation &result)
{
    if (result.number != m_latest.load())
        return;
    m_shown = result.number;
    m_pattern = result.pattern;
    m_error = result.error;
    m_lsample->setPlainText(result.sample.join(u'\n'));
    showCount();
    m_lok->setEnabled(m_pattern && m_pattern->count() > 0 && !m_handingOver);
    emit evaluated();
}

void Fgenerate::showCount()
{
    if (!m_pattern) {
        m_lcount->setText(m_error);
    } else {
        const quint64 count = m_pattern->count();
        QString text = count == KeywordPattern::saturated
                           ? QStringLiteral("超过 %1 个关键词").arg(number(count))
                           : QStringLiteral("共 %1 个关键词").arg(number(count));
        const int kinds = tickedKinds();
        if (count > 0 && kinds > 0)
            text += QStringLiteral("，× %1 种后缀 = %2 个候选域名").arg(kinds).arg(amount(timesSaturating(count, quint64(kinds))));
        if (m_pattern->dropped() > 0)
            text += QStringLiteral("；另有 %1 个组合不能作域名（只能用字母、数字和“-”，最长 63 个字符），已略去")
                        .arg(amount(m_pattern->dropped()));
        m_lcount->setText(text);
    }
}

void Fgenerate::handOver()
{
    if (!m_pattern || m_shown != m_latest.load() || m_handingOver || m_pattern->count() == 0)
        return;
    const quint64 count = m_pattern->count();
    const quint64 kinds = quint64(tickedKinds());
    const quint64 handed = std::min<quint64>(count, MaxHandedOver);
    if (timesSaturating(count, kinds) > ConfirmAbove) {
        QString question = QStringLiteral("将搜索 %1 个关键词，每个查 %2 种后缀，共 %3 个候选域名，需要较长时间。\n")
                               .arg(number(handed))
                               .arg(kinds)
                               .arg(number(handed * kinds));
        if (count > handed)
            question += QStringLiteral("这个模式有 %1 个关键词，关键词框一次最多放 %2 个，只搜索前 %2 个。\n")
                            .arg(amount(count), number(handed));
        if (!m_platform.askYesNo(programName(), question + QStringLiteral("继续吗？"), this))
            return;
    }
    m_handingOver = true;
    m_lok->setEnabled(false);
    const KeywordPattern pattern = *m_pattern;
    startOn(m_work, [this, pattern, handed] {
        // The keyword box takes a list as lines of text.
        QString text;
        text.reserve(qsizetype(handed) * 9 + 4096);
        KeywordPattern::Generator generator = pattern.generate();
        std::string keyword;
        for (quint64 made = 0; made < handed && generator.next(keyword); ++made) {
            if (made > 0)
                text += u'\n';
            text += QLatin1StringView(keyword.data(), qsizetype(keyword.size()));
        }
        work::postTo(this, [this, text = std::move(text)]() mutable {
            m_handingOver = false;
            m_lok->setEnabled(true);
            hide();
            m_window.controls().lfind->setList(std::exchange(text, {}));
            m_window.search().run();
            emit handedOver();
        });
    });
}

} // namespace norvale
