#pragma once

#include <QtGlobal>

#include <memory>
#include <utility>

namespace norvale::work {

// The run an engine reports for, and its generation. Starting a run
// supersedes the one before: that one is detached, so it reports nothing
// more, and whatever it had already posted is dropped because it is no
// longer current. Run needs detach(). Used on the engine's thread only.
template <typename Run>
class LatestRun final {
public:
    LatestRun() = default;
    ~LatestRun() { abandon(); }
    Q_DISABLE_COPY_MOVE(LatestRun)

    // Detaches the running one and gives the generation of the next.
    quint64 next()
    {
        abandon();
        return ++m_generation;
    }
    void set(std::shared_ptr<Run> run) { m_run = std::move(run); }
    // The current run has ended; its generation stays the latest.
    void finish() { m_run.reset(); }
    // Detaches the current run, if any.
    void abandon()
    {
        if (m_run)
            std::exchange(m_run, nullptr)->detach();
    }

    const std::shared_ptr<Run> &current() const { return m_run; }
    bool isCurrent(const std::shared_ptr<Run> &run) const { return run && run == m_run; }
    quint64 generation() const { return m_generation; }

private:
    std::shared_ptr<Run> m_run;
    quint64 m_generation = 0;
};

} // namespace norvale::work
