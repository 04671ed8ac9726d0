#include "norvale/net/Cls_DownLoad.h"

#include "norvale/net/DownloadRules.h"
#include "norvale/web/CurlTransfer.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <QThread>

#include <fcntl.h>

#include <algorithm>
#include <memory>

namespace norvale {

namespace {

// Large reads keep a fast loopback transfer from spending its time in calls.
constexpr long kReceiveBuffer = 512 * 1024;
constexpr qint64 kWriteBackStretch = 8 * 1024 * 1024;

using namespace curltransfer;

// Everything one transfer's callbacks share; they run on DLFile's thread.
struct Transfer {
    Cls_DownLoad &owner;
    const QString &url;
    const QString &localPath;
    const std::chrono::milliseconds progressInterval;
    CURL *easy = nullptr;
    std::unique_ptr<QSaveFile> file{};
    QElapsedTimer clock{};
    qint64 bytes = 0;
    qint64 announced = 0;       // Content-Length; 0 when there was none
    bool hasLength = false;
    bool answered = false;      // the final answer's headers are in
    long httpStatus = 0;
    bool statusRefused = false; // the answer was not a 2xx
    bool saveFailed = false;
    bool stopped = false;
    qint64 writtenBack = 0;     // bytes already handed to the disk
    qint64 reportedBytes = 0;
    qint64 reportedAtMs = -1;   // -1: nothing reported yet

    void raise(int status) { emit owner.entDLFileStatus(status); }

    // The file is synced to disk before it takes the installer's name. Start
    // writing each finished stretch out now, so that the sync at the end has
    // little left to wait for.
    void startWriteBack()
    {
        if (bytes - writtenBack < kWriteBackStretch)
            return;
        ::sync_file_range(file->handle(), writtenBack, bytes - writtenBack, SYNC_FILE_RANGE_WRITE);
        writtenBack = bytes;
    }

    void reportProgress(bool force)
    {
        const qint64 now = clock.elapsed();
        if (!force && reportedAtMs >= 0 && now - reportedAtMs < progressInterval.count())
            return;
        if (bytes == reportedBytes)
            return;
        reportedBytes = bytes;
        reportedAtMs = now;
        emit owner.entDLFileDowning(url, bytes, announced, averageSpeed(bytes, now));
    }
};

bool isBlankLine(const char *data, size_t n)
{
    return (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
}

// Watches for the end of the final answer's headers: the moment the server
// has answered and the body is about to arrive.
size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    if (t->answered || !isBlankLine(data, n))
        return n;

    long code = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200)
        return n;   // an interim answer such as 100 Continue
    if (code < 400 && code >= 300) {
        char *location = nullptr;
        curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &location);
        if (location)
            return n;   // libcurl follows it; the next answer counts
    }

    t->answered = true;
    t->httpStatus = code;
    t->raise(downloadstatus::Answered);
    // An error page is never the installer, so its body is not even read.
    if (code >= 300) {
        t->statusRefused = true;
        return 0;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    t->hasLength = length >= 0;
    t->announced = std::max<curl_off_t>(length, 0);

    t->raise(downloadstatus::Receiving);
    t->file = std::make_unique<QSaveFile>(t->localPath);
    // Plain read-write, whatever an earlier file of that name had: a
    // download is never made runnable before the user has been asked.
    if (!t->file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || !t->file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                    | QFileDevice::ReadOther)) {
        t->saveFailed = true;
        return 0;
    }
    return n;
}

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    if (!t->file)
        return 0;
    if (t->file->write(data, qint64(n)) != qint64(n)) {
        t->saveFailed = true;
        return 0;
    }
    t->bytes += qint64(n);
    t->startWriteBack();
    t->reportProgress(t->hasLength && t->bytes >= t->announced);
    if (t->owner.bStop()) {
        t->stopped = true;
        return 0;
    }
    return n;
}

} // namespace

Cls_DownLoad::Cls_DownLoad(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<DownloadResult>();
}

Cls_DownLoad::~Cls_DownLoad()
{
    DLFileStop();
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

bool Cls_DownLoad::DLFileStop()
{
    m_bStop.store(true);
    std::lock_guard lock(m_wakeMutex);
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM *>(m_multi));
    return false;
}

bool Cls_DownLoad::isRunning() const
{
    return m_running.load();
}

bool Cls_DownLoad::start(const QString &sRemoteURL, const QString &sLocalFilePath)
{
    if (m_running.load())
        return false;
    if (m_worker) {
        // It has reported; only its last instructions remain.
        m_worker->wait();
        delete m_worker;
    }
    m_bStop.store(false);
    m_running.store(true);
    m_worker = QThread::create([this, sRemoteURL, sLocalFilePath] {
        const DownloadResult result = DLFile(sRemoteURL, sLocalFilePath);
        m_running.store(false);
        emit finished(result);
    });
    m_worker->start();
    return true;
}

DownloadResult Cls_DownLoad::DLFile(const QString &sRemoteURL, const QString &sLocalFilePath)
{
    DownloadResult result;
    result.localPath = sLocalFilePath;
    auto raise = [this, &result](int status) {
        result.status = status;
        emit entDLFileStatus(status);
    };
    auto fail = [&](int status, const QString &why) {
        raise(status);
        result.error = why;
        m_bStop.store(false);
        return result;
    };

    raise(downloadstatus::Connecting);
    const bool curlReady = ready();
    const Easy easy(curlReady ? curl_easy_init() : nullptr);
    const Multi multi(curlReady ? curl_multi_init() : nullptr);
    const List headers(
        curl_slist_append(curl_slist_append(nullptr, "Cache-Control: no-cache"), "Pragma: no-cache"));
    if (!easy || !multi || !headers)
        return fail(downloadstatus::ClientFailed, QStringLiteral("the HTTP library could not start"));
    raise(downloadstatus::Requesting);

    const QByteArray address = httpAddress(sRemoteURL);
    if (address.isEmpty())
        return fail(downloadstatus::RequestFailed, QStringLiteral("not an http or https address"));

    Transfer t{*this, sRemoteURL, sLocalFilePath, m_progressInterval};
    t.easy = easy.get();
    char errorText[CURL_ERROR_SIZE] = {};
    CURL *h = easy.get();
    RedirectGuard guard;
    setBoundedGet(h, address, m_limits.connectTimeout, m_limits.idleTimeout, m_limits.maxRedirects, &guard);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "VB Http");
    // Always from the server: no cache on the way may answer.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);

    t.clock.start();
    curl_multi_add_handle(multi.get(), h);
    {
        std::lock_guard lock(m_wakeMutex);
        m_multi = multi.get();
    }
    CURLcode code = CURLE_OK;
    bool ended = false;
    while (!ended) {
        if (m_bStop.load()) {
            t.stopped = true;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
                ended = true;
            }
        }
        // The poll wakes early for data and for DLFileStop.
        if (!ended && curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    {
        std::lock_guard lock(m_wakeMutex);
        m_multi = nullptr;
    }
    curl_multi_remove_handle(multi.get(), h);

    result.bytes = t.bytes;
    result.httpStatus = t.httpStatus;
    // The last chunk's numbers, whatever the outcome.
    t.reportProgress(true);
    if (t.stopped || m_bStop.load()) {
        if (t.file)
            t.file->cancelWriting();
        return fail(downloadstatus::Stopped, QString());
    }
    const QString why = guard.refused ? QStringLiteral("redirected from the internet into a private network")
                        : errorText[0] ? QString::fromUtf8(errorText)
                                       : QString::fromUtf8(curl_easy_strerror(code));
    if (!t.answered)
        return fail(downloadstatus::RequestFailed, why);
    if (t.statusRefused)
        return fail(downloadstatus::RequestFailed, QStringLiteral("HTTP status %1").arg(t.httpStatus));
    QString broken;
    if (t.saveFailed || !t.file)
        broken = QStringLiteral("cannot write ") + sLocalFilePath;
    else if (code != CURLE_OK)
        broken = why;
    else if (t.hasLength && t.bytes != t.announced)
        broken = QStringLiteral("%1 of %2 bytes arrived").arg(t.bytes).arg(t.announced);
    if (!broken.isEmpty()) {
        if (t.file)
            t.file->cancelWriting();
        return fail(downloadstatus::Broken, broken);
    }

    raise(downloadstatus::ServerEnded);
    if (!t.file->commit())
        return fail(downloadstatus::Broken, QStringLiteral("cannot write ") + sLocalFilePath);
    result.complete = true;
    raise(downloadstatus::Done);
    m_bStop.store(false);
    return result;
}

} // namespace norvale
