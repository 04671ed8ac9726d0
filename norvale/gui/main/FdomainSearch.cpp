#include "norvale/gui/main/FdomainSearch.h"

#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/KeywordBox.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/SearchBackend.h"
#include "norvale/core/search/SearchBoxes.h"
#include "norvale/core/work/WorkerPools.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <utility>

namespace norvale {

namespace {

constexpr quint32 red = 255;  // 0x00BBGGRR
// The least time between two batches of rows: one frame.
constexpr int frameMs = 16;

} // namespace

// One text that the interface thread writes and workers read whole.
struct FdomainSearch::SharedText {
    mutable QMutex mutex;
    QString text;

    QString get() const
    {
        const QMutexLocker lock(&mutex);
        return text;
    }
    void set(const QString &value)
    {
        const QMutexLocker lock(&mutex);
        text = value;
    }
};

FdomainSearch::FdomainSearch(Fdomain &window, std::shared_ptr<ServerDatabase> database)
    : m_window(window)
    , m_boxes(std::make_shared<SearchBoxes>())
    , m_statusBase(std::make_shared<SharedText>())
{
    // The workers hold the text through their own reference, so a fetch that
    // outlives the window still reads a live object.
    SearchBackend backend = makeServerBackend(
        std::move(database), [base = m_statusBase] { return base->get(); });
    m_engine = std::make_unique<DomainSearch>(std::move(backend), m_boxes);
    // Rows show once a frame; taking them twice a frame keeps a quiet
    // search's rows prompt without waking the window for every row.
    m_engine->setTakeInterval(frameMs / 2);
    // The window's thread is the one a user waits on.
    workpools::askShortSlices();

    connect(m_engine.get(), &DomainSearch::searchReset, this, &FdomainSearch::onReset);
    connect(m_engine.get(), &DomainSearch::progressStep, this,
            [this](quint64 generation, int, int, int percent) { onProgress(generation, percent); });
    connect(m_engine.get(), &DomainSearch::rowReady, this, &FdomainSearch::onRow);
    connect(m_engine.get(), &DomainSearch::finished, this, &FdomainSearch::onFinished);
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &FdomainSearch::applyRows);
    watchBoxes();
}

FdomainSearch::~FdomainSearch() = default;

void FdomainSearch::watchBoxes()
{
    // toggled, not clicked: the window's own unticking must reach the
    // engine too.
    for (int i = 0; i < Fdomain::ExtensionCount; ++i) {
        QCheckBox *box = m_window.controls().lextendnum[std::size_t(i)];
        m_boxes->setKind(i, box->isChecked());
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) { m_boxes->setKind(i, on); });
    }
    m_boxes->setAll(m_window.controls().lextendnum1->isChecked());
    connect(m_window.controls().lextendnum1, &QCheckBox::toggled, this,
            [this](bool on) { m_boxes->setAll(on); });
    m_boxes->setShowRelated(m_window.controls().lshowbak->isChecked());
    connect(m_window.controls().lshowbak, &QCheckBox::toggled, this,
            [this](bool on) { m_boxes->setShowRelated(on); });
}

void FdomainSearch::setStatusPageBase(const QString &ldomainurl)
{
    m_statusBase->set(ldomainurl);
    m_configured = true;
    if (std::exchange(m_deferred, false))
        run();
}

QString FdomainSearch::statusPageBase() const
{
    return m_statusBase->get();
}

void FdomainSearch::run()
{
    // Without the status page address every candidate that does not resolve
    // would read as a failed query.
    if (!m_configured) {
        m_deferred = true;
        return;
    }
    dropRows();
    m_window.setStopflag(false);
    m_running = true;
    m_generation = m_engine->start(m_window.controls().lfind->text());
}

void FdomainSearch::stop()
{
    m_deferred = false;
    // Rows not yet shown stay unshown: after 停止 no row is written.
    dropRows();
    m_window.setStopflag(true);
    m_engine->stop();
}

void FdomainSearch::onReset(quint64 generation)
{
    if (!isCurrent(generation))
        return;
    dropRows();
    ResultGridModel &grid = m_window.controls().grid1->grid();
    grid.setRows(1);
    m_window.controls().lallnum->setText(u"找到记录 " % QString::number(grid.rows() - 1) % u" 条");
    m_window.controls().fslide3->show();
}

void FdomainSearch::onProgress(quint64 generation, int percent)
{
    if (!isCurrent(generation))
        return;
    // The rows of the boxes before this step show before the bar moves on.
    applyRows();
    if (!isCurrent(generation))
        return;
    m_window.setslide(percent);
}

void FdomainSearch::onRow(quint64 generation, const SearchRow &row)
{
    // A row already on its way when "停止" was pressed is not written.
    if (!isCurrent(generation) || m_window.stopflag())
        return;
    m_rows.push_back(row);
    if (m_frame.isActive())
        return;
    // A row after a quiet spell shows at once (still after the other rows
    // that arrive with it); under a stream of rows, once a frame.
    const qint64 since = m_sinceApplied.isValid() ? m_sinceApplied.elapsed() : frameMs;
    m_frame.start(int(std::max<qint64>(0, frameMs - since)));
}

void FdomainSearch::applyRows()
{
    m_frame.stop();
    // Taken first: a handler of the grid's signals may stop or start a search.
    std::vector<SearchRow> rows = std::exchange(m_rows, {});
    if (rows.empty())
        return;
    std::vector<ResultGridModel::RowWrite> writes;
    writes.reserve(rows.size());
    for (const SearchRow &row : rows)
        writes.push_back({row.row, row.cells, row.red, red});
    ResultGridModel &grid = m_window.controls().grid1->grid();
    grid.writeRows(writes);
    // The writes share the rows' texts, which workers allocated: the rows
    // hold the last references and go to a worker to be freed.
    writes = {};
    m_engine->release(std::move(rows));
    m_sinceApplied.restart();
    m_window.controls().lallnum->setText(u"找到相关记录  " % QString::number(grid.rows() - 1) % u"  条");
}

void FdomainSearch::dropRows()
{
    m_frame.stop();
    m_rows.clear();
}

void FdomainSearch::onFinished(quint64 generation)
{
    if (!isCurrent(generation))
        return;
    applyRows();
    // A handler of the grid's signals may have started the next search.
    if (!isCurrent(generation))
        return;
    m_running = false;
    m_window.setStopflag(true);
    m_window.resetslide();
    m_window.controls().lfind->setFocus();
}

} // namespace norvale
