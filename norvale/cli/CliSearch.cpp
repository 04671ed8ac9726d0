#include "norvale/core/config/Configuration.h"
#include "norvale/cli/CliOutput.h"
#include "norvale/cli/CliResume.h"
#include "norvale/cli/CliRun.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/KeywordList.h"
#include "norvale/core/search/SearchBackend.h"
#include "norvale/core/search/SearchBoxes.h"

#include <QFile>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace norvale::cli {

namespace {

std::shared_ptr<SearchBoxes> boxesOf(const CliOptions &options)
{
    auto boxes = std::make_shared<SearchBoxes>();  // "全部" ticked
    if (options.kinds) {
        boxes->setAll(false);
        for (int i = 0; i < kindCount; ++i)
            boxes->setKind(i, (*options.kinds)[std::size_t(i)]);
    }
    boxes->setShowRelated(options.related);
    return boxes;
}

// "搜索 37%  找到 12 条" on a terminal, rewritten in place; rows are
// written over it and it is drawn again below them.
class ProgressLine {
public:
    explicit ProgressLine(bool shown) : m_shown(shown) {}
    void setPercent(int percent)
    {
        m_percent = percent;
        draw();
    }
    void clear()
    {
        if (m_shown)
            writeError("\r\x1b[K");
    }
    void addRow()
    {
        ++m_rows;
        draw();
    }

private:
    void draw()
    {
        if (m_shown)
            writeError(QStringLiteral("\r搜索 %1%  找到 %2 条").arg(m_percent).arg(m_rows).toUtf8());
    }

    bool m_shown;
    int m_percent = 0;
    int m_rows = 0;
};

} // namespace

KeywordSource searchKeywords(const CliOptions &options, bool *any)
{
    struct Input {
        QFile standardInput;
        std::optional<KeywordReader> reader;
        std::optional<QString> first;
    };
    auto input = std::make_shared<Input>();
    QIODevice *device = nullptr;
    if (options.keywordsFromInput && input->standardInput.open(stdin, QIODevice::ReadOnly))
        device = &input->standardInput;
    input->reader.emplace(options.keywords, device);
    input->first = input->reader->next();
    *any = input->first.has_value();
    return {[input](QString *keyword) {
                std::optional<QString> next = std::exchange(input->first, std::nullopt);
                if (!next)
                    next = input->reader->next();
                if (next)
                    *keyword = *next;
                return next.has_value();
            },
            0, device != nullptr};
}

namespace {

// Where the rows go: standard output, or with --resume the file, after
// what a cut run left there. Rows are flushed once the engine's batch is
// written, not one by one.
class RowSink {
public:
    bool open(const CliOptions &options)
    {
        if (options.resumeFile.isEmpty())
            return true;
        m_file = std::fopen(QFile::encodeName(options.resumeFile).constData(), "a+b");
        if (!m_file) {
            writeError("norvale-cli: cannot open " + QFile::encodeName(options.resumeFile) + '\n');
            return false;
        }
        QFile earlier(options.resumeFile);
        if (earlier.open(QIODevice::ReadOnly))
            m_point = readResumePoint(earlier, options.format);
        if (!m_point.error.isEmpty()) {
            writeError("norvale-cli: " + QFile::encodeName(options.resumeFile) + " cannot be resumed: "
                       + m_point.error.toUtf8() + '\n');
            return false;
        }
        return true;
    }
    ~RowSink()
    {
        if (m_file)
            std::fclose(m_file);
    }
    const ResumePoint &resumePoint() const { return m_point; }
    bool fresh() const { return m_file ? m_point.keep == 0 : outputIsFreshFile(); }
    void write(const QByteArray &bytes)
    {
        if (m_file && !m_cut) {
            // What lies beyond the whole rows (a torn row, the JSON end) goes
            // only once this run writes, after the file was found to match.
            m_cut = true;
            std::fflush(m_file);
            if (::ftruncate(::fileno(m_file), m_point.keep) != 0)
                writeError("norvale-cli: cannot cut the torn end of the file\n");
        }
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), m_file ? m_file : stdout);
        if (std::exchange(m_flushPending, true))
            return;
        QTimer::singleShot(0, [this] { flush(); });
    }
    void flush()
    {
        m_flushPending = false;
        std::fflush(m_file ? m_file : stdout);
    }

private:
    FILE *m_file = nullptr;
    ResumePoint m_point;
    bool m_cut = false;
    bool m_flushPending = false;
};

} // namespace

int runSearch(const CliOptions &options, KeywordSource keywords, const std::optional<KeywordPattern> &pattern,
              std::shared_ptr<ServerDatabase> database, const Configuration &config)
{
    RowSink sink;
    if (!sink.open(options))
        return 2;
    const ResumePoint &resume = sink.resumePoint();
    const QString statusBase = config.text(ConfigKey::StatusPage);
    DomainSearch engine(makeServerBackend(std::move(database), [statusBase] { return statusBase; }),
                        boxesOf(options));
    ResultWriter writer(options.format, options.format == ResultFormat::Table && outputIsTerminal());
    ProgressLine progress(errorIsTerminal());

    if (resume.keep == 0) {
        QByteArray head = writer.begin();
        if (options.format == ResultFormat::Csv && sink.fresh())
            head.prepend(ResultWriter::utf8Bom());
        sink.write(head);
    } else if (resume.rows > 0) {
        writer.continueAfterRows();
    }

    // A resumed search passes over the rows the file holds; the last of them
    // must be the same name, or the file is another search's.
    quint64 skipped = 0;
    QString mismatch;
    engine.setSkipRows(resume.rows);
    QObject::connect(&engine, &DomainSearch::progressStep, &engine,
                     [&](quint64, int, int, int percent) { progress.setPercent(percent); });
    QObject::connect(&engine, &DomainSearch::rowReady, &engine, [&](quint64, const SearchRow &row) {
        if (row.skipped) {
            if (++skipped == resume.rows && row.cells.value(column::Domain) != resume.lastDomain) {
                mismatch = QStringLiteral("its row %1 is %2 where this search has %3")
                               .arg(resume.rows).arg(resume.lastDomain, row.cells.value(column::Domain));
                engine.stop();
            }
            return;
        }
        progress.clear();
        sink.write(writer.row(resultRecord(row)));
        progress.addRow();
    });
    runUntil(&engine, &DomainSearch::finished, [&] {
        // A pattern's keywords are made one by one as the search reaches
        // them, never held as a list.
        engine.startSource(pattern ? patternSource(std::move(keywords), *pattern) : std::move(keywords));
    });
    progress.clear();
    if (mismatch.isEmpty() && skipped < resume.rows)
        mismatch = QStringLiteral("it holds %1 rows, more than this search gives").arg(resume.rows);
    if (!mismatch.isEmpty()) {
        writeError("norvale-cli: " + QFile::encodeName(options.resumeFile) + " is not from this search: "
                   + mismatch.toUtf8() + '\n');
        return 2;
    }
    sink.write(writer.end());
    sink.flush();
    return 0;
}

} // namespace norvale::cli
