#include "norvale/about/Configuration.h"
#include "norvale/cli/CliOutput.h"
#include "norvale/cli/CliRun.h"
#include "norvale/search/DomainSearch.h"
#include "norvale/search/KeywordList.h"
#include "norvale/search/SearchBackend.h"
#include "norvale/search/SearchBoxes.h"

#include <QFile>

#include <cstdio>

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
            0};
}

int runSearch(const CliOptions &options, KeywordSource keywords, const std::optional<KeywordPattern> &pattern,
              std::shared_ptr<ServerDatabase> database, const Configuration &config)
{
    const QString statusBase = config.text(ConfigKey::StatusPage);
    DomainSearch engine(makeServerBackend(std::move(database), [statusBase] { return statusBase; }),
                        boxesOf(options));
    ResultWriter writer(options.format, options.format == ResultFormat::Table && outputIsTerminal());
    ProgressLine progress(errorIsTerminal());

    QByteArray head = writer.begin();
    if (options.format == ResultFormat::Csv && outputIsFreshFile())
        head.prepend(ResultWriter::utf8Bom());
    writeOut(head);

    QObject::connect(&engine, &DomainSearch::progressStep, &engine,
                     [&](quint64, int, int, int percent) { progress.setPercent(percent); });
    QObject::connect(&engine, &DomainSearch::rowReady, &engine, [&](quint64, const SearchRow &row) {
        progress.clear();
        writeOut(writer.row(resultRecord(row)));
        progress.addRow();
    });
    runUntil(&engine, &DomainSearch::finished, [&] {
        // A pattern's keywords are made one by one as the search reaches
        // them, never held as a list.
        engine.startSource(pattern ? patternSource(std::move(keywords), *pattern) : std::move(keywords));
    });
    progress.clear();
    writeOut(writer.end());
    return 0;
}

} // namespace norvale::cli
