#pragma once

#include "norvale/core/search/KeywordList.h"
#include "norvale/core/search/ResultExport.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <memory>

namespace norvale {

class Fdomain;
class Fgenerate;
class Platform;
class ResultGridModel;

// What the main window does with keyword lists and results beyond the
// search: a keyword list from a text file, its count beside the progress
// bar, "只看未注册", Ctrl+C on selected rows and "导出…". Files are read and
// written on a worker of its own; the window only waits for the user's
// choice of file.
class FdomainResults final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FdomainResults)

public:
    // Keyword files larger than this are refused: a list is lines of words.
    static constexpr qint64 MaxKeywordFileBytes = 16 * 1024 * 1024;

    FdomainResults(Fdomain &window, Platform &platform);
    ~FdomainResults() override;

    // "…" and "导入关键词…": the file's keywords, one per line, go into lfind.
    void importKeywords();
    // "生成…" and "生成关键词…": the pattern dialog, made on first use and
    // kept, so that it shows the last pattern again.
    Fgenerate *generateKeywords();
    // "导出…" and "导出结果…": the rows the grid shows, in its order, as CSV
    // (UTF-8 with a byte-order mark) or JSON, by the chosen file's type.
    void exportRows();
    // Ctrl+C on the grid: the selected rows as tab-separated lines.
    void copySelection();

    // A grid row as export and copy write it; red cells become its flags.
    static ResultRecord record(const ResultGridModel &grid, int row);

signals:
    // A file was read or written (or failed to be); for those who wait on it.
    void fileDone();

private:
    void showKeywordCount();
    void countStep();
    void applyCount(qsizetype keywords);
    QList<ResultRecord> records(const QList<int> &rows) const;
    struct ExportRun;
    void exportStep();
    void abandonExport();
    void writeFile(const QString &path, const QByteArray &bytes, qsizetype rows);

    Fdomain &m_window;
    Platform &m_platform;
    // A long list is counted in short steps once typing pauses, so that a
    // key press never waits for a recount; an edit starts the count anew.
    QTimer m_countDelay;
    QTimer m_countSteps;
    KeywordCounter m_counter;
    QPointer<Fgenerate> m_generate;
    // An export becomes its document a few milliseconds of rows at a time,
    // so that a million rows never hold the window; a worker writes it.
    std::unique_ptr<ExportRun> m_export;
    QTimer m_exportSteps;
    // Last, so that it is the first to go: it waits for a file still being
    // read or written, whose report then finds this object in place.
    QThreadPool m_files;
};

} // namespace norvale
