#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>

class QThread;

namespace norvale {

// How one download ended.
struct DownloadResult {
    QString localPath;
    qint64 bytes = 0;        // body bytes received
    int status = 0;          // the last status raised (see downloadstatus)
    bool complete = false;   // the whole body is in place under localPath
    long httpStatus = 0;     // 0 when no answer arrived
    QString error;           // why it failed, for the log; empty when complete or stopped
};

// The limits a download runs under. There is no overall limit: a large
// installer over a slow line may take as long as it takes while data flows.
struct DownloadLimits {
    std::chrono::seconds connectTimeout{60};
    std::chrono::seconds idleTimeout{30};   // abort after this long without data (>= 1 s)
    long maxRedirects = 10;
};

// Downloads one file over HTTP(S) into a local path, reporting its phases
// and progress through two signals.
//
// The body goes to a temporary file beside the target, which is renamed into
// place only when the body is complete: a failed or cancelled download
// leaves the target as it was, and an older, longer file is replaced whole.
// A download is complete when it ended normally with a 2xx answer and, when
// the server announced a length, exactly that many bytes arrived.
class Cls_DownLoad final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Cls_DownLoad)

public:
    explicit Cls_DownLoad(QObject *parent = nullptr);
    // Stops a running download and waits for its worker.
    ~Cls_DownLoad() override;

    void setLimits(const DownloadLimits &limits) { m_limits = limits; }
    // Least time between two progress signals; the last chunk is always
    // reported. One frame by default, so a fast download cannot flood the
    // interface thread with events.
    void setProgressInterval(std::chrono::milliseconds interval) { m_progressInterval = interval; }

    // Downloads sRemoteURL into sLocalFilePath on the calling thread, which
    // it blocks, and raises the signals from there. The agent is "VB Http";
    // caches are bypassed. Only http and https addresses are fetched.
    DownloadResult DLFile(const QString &sRemoteURL, const QString &sLocalFilePath);

    // Asks the running DLFile to stop: it stops at once, between two chunks
    // or while it waits for the server. Callable from any thread. Returns
    // false.
    bool DLFileStop();
    bool bStop() const { return m_bStop.load(); }

    // Runs DLFile on a worker thread of its own and emits finished() with
    // its result. False, and nothing starts, while one is still running.
    bool start(const QString &sRemoteURL, const QString &sLocalFilePath);
    bool isRunning() const;

signals:
    // After a chunk has been written: bytes so far, the announced length (0
    // when unknown) and the average rate in bytes per second.
    void entDLFileDowning(const QString &sRemoteURL, qint64 lDownLoaded, qint64 lFilesize,
                          qint64 lSpeed);
    // At each change of phase (downloadstatus).
    void entDLFileStatus(int TmpState);
    void finished(const norvale::DownloadResult &result);

private:
    DownloadLimits m_limits;
    std::chrono::milliseconds m_progressInterval{16};
    std::atomic_bool m_bStop{false};
    // The transfers' multi handle (a CURLM), kept for the object's life so
    // that DLFileStop can wake a running transfer from any thread.
    void *const m_multi;
    QThread *m_worker = nullptr;
    std::atomic_bool m_running{false};
};

} // namespace norvale

Q_DECLARE_METATYPE(norvale::DownloadResult)
