#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace norvale {

class DomainSearch;
class Fdomain;
class SearchBoxes;
class ServerDatabase;
struct SearchRow;

// The main window's side of the domain search: starts and stops the engine,
// keeps the engine's view of the boxes in step with the window, and applies
// what the engine reports to the grid, the counter and the progress bar.
// Everything here runs on the interface thread; the engine's workers only
// ever see the box ticks and the status page address, both thread-safe.
// Rows reach the grid in batches, at most one per frame: a search of a
// hundred thousand rows costs the window a few hundred grid updates, not a
// hundred thousand.
class FdomainSearch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FdomainSearch)

public:
    FdomainSearch(Fdomain &window, std::shared_ptr<ServerDatabase> database);
    ~FdomainSearch() override;

    // ldomainurl of the loaded configuration. Workers read it at each fetch.
    // A search asked for before it was given starts now.
    void setStatusPageBase(const QString &ldomainurl);
    QString statusPageBase() const;

    // "搜索" and Enter in lfind. A search still running is superseded. While
    // the configuration is still loading the search waits for it.
    void run();
    // "停止": stopflag, and the engine writes no further row.
    void stop();
    // From the start of a search to its end (also a stopped one's).
    bool isRunning() const { return m_running; }

    DomainSearch &engine() { return *m_engine; }
    const SearchBoxes &boxes() const { return *m_boxes; }

private:
    struct SharedText;

    void watchBoxes();
    bool isCurrent(quint64 generation) const { return m_running && generation == m_generation; }
    void onReset(quint64 generation);
    void onProgress(quint64 generation, int percent);
    void onRow(quint64 generation, const SearchRow &row);
    void onFinished(quint64 generation);
    // Writes the rows received since the last frame to the grid.
    void applyRows();
    void dropRows();

    Fdomain &m_window;
    std::shared_ptr<SearchBoxes> m_boxes;
    std::shared_ptr<SharedText> m_statusBase;
    std::unique_ptr<DomainSearch> m_engine;
    std::vector<SearchRow> m_rows;  // received, not yet in the grid
    QTimer m_frame;
    QElapsedTimer m_sinceApplied;
    quint64 m_generation = 0;
    bool m_running = false;
    bool m_configured = false;  // the status page address is known
    bool m_deferred = false;    // asked for before it was
};

} // namespace norvale
