#include "norvale/gui/main/FdomainResults.h"

#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/KeywordBox.h"
#include "norvale/gui/main/Fgenerate.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/core/search/KeywordList.h"
#include "norvale/core/search/SearchRules.h"

#include <QAction>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>

namespace norvale {

namespace {

constexpr quint32 red = 255;  // 0x00BBGGRR

const QString &programName()
{
    static const QString name = QStringLiteral("Norvale");
    return name;
}

struct ExportChoice {
    QString path;
    ResultFormat format = ResultFormat::Csv;
};

// The chosen file's type decides; a name without one gets the chosen filter's.
ExportChoice exportChoice(QString path, int filter)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    ExportChoice choice;
    if (suffix == QLatin1StringView("json"))
        choice.format = ResultFormat::Json;
    else if (suffix == QLatin1StringView("csv"))
        choice.format = ResultFormat::Csv;
    else
        choice.format = filter == 1 ? ResultFormat::Json : ResultFormat::Csv;
    if (suffix.isEmpty())
        path += choice.format == ResultFormat::Json ? QStringLiteral(".json") : QStringLiteral(".csv");
    choice.path = path;
    return choice;
}

} // namespace

struct FdomainResults::ExportRun {
    ExportChoice choice;
    QList<int> rows;  // grid rows in the order the view showed them
    qsizetype next = 0;
    ResultWriter writer;
    QByteArray bytes;
};

FdomainResults::FdomainResults(Fdomain &window, Platform &platform)
    : m_window(window), m_platform(platform)
{
    m_files.setMaxThreadCount(1);

    connect(window.controls().limport, &QPushButton::clicked, this, &FdomainResults::importKeywords);
    connect(window.controls().mimport, &QAction::triggered, this, &FdomainResults::importKeywords);
    connect(window.controls().lgenerate, &QPushButton::clicked, this, &FdomainResults::generateKeywords);
    connect(window.controls().mgenerate, &QAction::triggered, this, &FdomainResults::generateKeywords);
    connect(window.controls().lexport, &QPushButton::clicked, this, &FdomainResults::exportRows);
    connect(window.controls().mexport, &QAction::triggered, this, &FdomainResults::exportRows);
    connect(window.controls().grid1, &ResultGridView::copyRequested, this, &FdomainResults::copySelection);
    connect(window.controls().lonlyfree, &QCheckBox::toggled, this,
            [this](bool on) { m_window.controls().grid1->order().setOnlyFree(on); });
    connect(window.controls().lfind, &QLineEdit::textChanged, this, &FdomainResults::showKeywordCount);
    m_countDelay.setSingleShot(true);
    m_countDelay.setInterval(150);
    connect(&m_countDelay, &QTimer::timeout, &m_countSteps, qOverload<>(&QTimer::start));
    connect(&m_countSteps, &QTimer::timeout, this, &FdomainResults::countStep);
    connect(&m_exportSteps, &QTimer::timeout, this, &FdomainResults::exportStep);
    // Rows dropped under an export (a new search) would leave it half made of others.
    connect(&window.controls().grid1->grid(), &QAbstractItemModel::rowsRemoved, this, &FdomainResults::abandonExport);
}

FdomainResults::~FdomainResults() = default;

ResultRecord FdomainResults::record(const ResultGridModel &grid, int row)
{
    QStringList cells;
    quint32 redColumns = 0;
    for (int c = 0; c < column::Count; ++c) {
        cells << grid.cellText(row, c);
        if (grid.cellColor(row, c) == red)
            redColumns |= 1u << c;
    }
    return resultRecord(cells, redColumns);
}

QList<ResultRecord> FdomainResults::records(const QList<int> &rows) const
{
    const ResultGridModel &grid = m_window.controls().grid1->grid();
    QList<ResultRecord> out;
    out.reserve(rows.size());
    for (const int row : rows)
        out.append(record(grid, row));
    return out;
}

namespace {

// Texts up to this many characters are counted at once: a few milliseconds.
constexpr qsizetype kCountAtOnce = 64 * 1024;

} // namespace

void FdomainResults::showKeywordCount()
{
    m_countSteps.stop();
    if (m_window.controls().lfind->text().size() <= kCountAtOnce) {
        m_counter = KeywordCounter();  // and the room a long list took
        m_counter.step(m_window.controls().lfind->text(), m_window.controls().lfind->text().size() + 1);
        applyCount(m_counter.isList() ? m_counter.count() : -1);
        return;
    }
    m_counter.restart();
    m_countDelay.start();
}

// A long list is counted in steps of a few milliseconds on this thread, the
// text read anew at each: a worker would hold the text, and the next key
// press would then copy all of it.
void FdomainResults::countStep()
{
    QElapsedTimer clock;
    clock.start();
    const QString text = m_window.controls().lfind->text();
    bool done = false;
    while (!done && clock.elapsed() < 4)
        done = m_counter.step(text, 1000);
    if (!done)
        return;
    m_countSteps.stop();
    applyCount(m_counter.isList() ? m_counter.count() : -1);
}

void FdomainResults::applyCount(qsizetype keywords)
{
    if (keywords >= 0)
        m_window.controls().lkeycount->setText(QStringLiteral("共 %1 个关键词").arg(keywords));
    m_window.controls().lkeycount->setVisible(keywords >= 0);
}

void FdomainResults::copySelection()
{
    const QList<int> rows = m_window.controls().grid1->selectedRows();
    if (rows.isEmpty())
        return;
    m_platform.setClipboardText(QString::fromUtf8(ResultWriter::write(ResultFormat::Tsv, records(rows))));
}

Fgenerate *FdomainResults::generateKeywords()
{
    if (!m_generate)
        m_generate = new Fgenerate(m_window, m_platform);
    m_generate->show();
    m_generate->raise();
    m_generate->activateWindow();
    m_generate->lpattern()->setFocus();
    return m_generate;
}

void FdomainResults::importKeywords()
{
    const QString path = m_platform.chooseOpenFile(
        QStringLiteral("导入关键词"), {QStringLiteral("文本文件 (*.txt *.csv)"), QStringLiteral("所有文件 (*)")}, &m_window);
    if (path.isEmpty())
        return;
    m_files.start([this, path] {
        QFile file(path);
        QString problem;
        QString keywords;
        if (!file.open(QIODevice::ReadOnly)) {
            problem = QStringLiteral("无法读取文件：") + file.errorString();
        } else {
            const QByteArray bytes = file.read(MaxKeywordFileBytes + 1);
            if (bytes.size() > MaxKeywordFileBytes)
                problem = QStringLiteral("文件太大，关键词文件不能超过 16 MB");
            else if ((keywords = keywordLines(decodeKeywordFile(bytes)).join(u'\n')).isEmpty())
                problem = QStringLiteral("文件中没有关键词");
            // Room to type into, so that a key press does not copy the list.
            keywords.reserve(keywords.size() + 4096);
        }
        QMetaObject::invokeMethod(this, [this, path, problem, keywords = std::move(keywords)]() mutable {
            if (problem.isEmpty()) {
                m_window.controls().lfind->setList(std::exchange(keywords, {}));
                m_window.controls().lfind->setFocus();
            } else {
                m_platform.showMessage(programName(), problem + QStringLiteral("\n") + path, &m_window);
            }
            emit fileDone();
        }, Qt::QueuedConnection);
    });
}

void FdomainResults::exportRows()
{
    if (m_window.controls().grid1->shownRows().isEmpty()) {
        m_platform.showMessage(programName(), QStringLiteral("表格中没有可导出的记录"), &m_window);
        return;
    }
    const QString keyword = cleanKeyword(m_window.controls().lfind->text().section(u'\n', 0, 0));
    int filter = 0;
    const QString chosen = m_platform.chooseSaveFile(
        QStringLiteral("导出结果"),
        QStringLiteral("norvale-") + (keyword.isEmpty() ? QStringLiteral("结果") : keyword) + QStringLiteral(".csv"),
        {QStringLiteral("CSV 文件 (*.csv)"), QStringLiteral("JSON 文件 (*.json)")}, &filter, &m_window);
    if (chosen.isEmpty())
        return;
    // What the grid shows now, rows the search added while the dialog was
    // open included.
    const ExportChoice choice = exportChoice(chosen, filter);
    m_export.reset(new ExportRun{choice, m_window.controls().grid1->shownRows(), 0, ResultWriter(choice.format), {}});
    if (choice.format == ResultFormat::Csv)
        m_export->bytes = ResultWriter::utf8Bom();
    m_export->bytes += m_export->writer.begin();
    m_exportSteps.start(0);
}

void FdomainResults::exportStep()
{
    QElapsedTimer clock;
    clock.start();
    ExportRun &run = *m_export;
    const ResultGridModel &grid = m_window.controls().grid1->grid();
    while (run.next < run.rows.size() && clock.elapsed() < 8) {
        for (const qsizetype end = std::min(run.next + 512, run.rows.size()); run.next < end; ++run.next)
            run.bytes += run.writer.row(record(grid, run.rows[run.next]));
    }
    if (run.next < run.rows.size())
        return;
    m_exportSteps.stop();
    run.bytes += run.writer.end();
    const std::unique_ptr<ExportRun> done = std::move(m_export);
    writeFile(done->choice.path, std::exchange(done->bytes, {}), done->rows.size());
}

void FdomainResults::abandonExport()
{
    if (!m_export)
        return;
    m_exportSteps.stop();
    const QString path = m_export->choice.path;
    m_export.reset();
    m_platform.showMessage(programName(), QStringLiteral("导出未完成：表格在导出时被清空\n") + path, &m_window);
    emit fileDone();
}

void FdomainResults::writeFile(const QString &path, const QByteArray &bytes, qsizetype rows)
{
    m_files.start([this, path, bytes, rows] {
        // Written whole or not at all: a file that existed stays as it was
        // when the new one cannot be written.
        QSaveFile file(path);
        const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
        const QString report = written ? QString(QStringLiteral("已导出 %1 条记录：").arg(rows) + path)
                                       : QString(QStringLiteral("导出失败：") + file.errorString() + u'\n' + path);
        QMetaObject::invokeMethod(this, [this, report] {
            m_platform.showMessage(programName(), report, &m_window);
            emit fileDone();
        }, Qt::QueuedConnection);
    });
}

} // namespace norvale
