#include "norvale/core/net/Cls_DownLoad.h"

#include "norvale/core/net/DownloadRules.h"
#include "norvale/core/web/CurlTransfer.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <QThread>

#include <fcntl.h>

#include <algorithm>
#include <memory>
#include <utility>

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
    // Stopped from the progress signal: nothing more is written.
    return t->owner.bStop() ? 0 : n;
}

// How a transfer that was not stopped ended: the status it raises and, when
// it failed, why.
std::pair<int, QString> outcome(const Transfer &t, CURLcode code, const CurlTransfer &transfer)
{
    if (!t.answered)
        return {downloadstatus::RequestFailed, transfer.failure(code)};
    if (t.statusRefused)
        return {downloadstatus::RequestFailed, QStringLiteral("HTTP status %1").arg(t.httpStatus)};
    if (t.saveFailed || !t.file)
        return {downloadstatus::Broken, QStringLiteral("cannot write ") + t.localPath};
    if (code != CURLE_OK)
        return {downloadstatus::Broken, transfer.failure(code)};
    if (t.hasLength && t.bytes != t.announced)
        return {downloadstatus::Broken, QStringLiteral("%1 of %2 bytes arrived").arg(t.bytes).arg(t.announced)};
    return {downloadstatus::ServerEnded, QString()};
}

} // namespace

Cls_DownLoad::Cls_DownLoad(QObject *parent)
    : QObject(parent), m_multi(ready() ? curl_multi_init() : nullptr)
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
    curl_multi_cleanup(m_multi);
}

bool Cls_DownLoad::DLFileStop()
{
    m_bStop.store(true);
    if (m_multi)
        curl_multi_wakeup(m_multi);
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
    const Easy easy(m_multi ? curl_easy_init() : nullptr);
    const List headers(
        curl_slist_append(curl_slist_append(nullptr, "Cache-Control: no-cache"), "Pragma: no-cache"));
    if (!easy || !headers)
        return fail(downloadstatus::ClientFailed, QStringLiteral("the HTTP library could not start"));
    raise(downloadstatus::Requesting);

    const QByteArray address = httpAddress(sRemoteURL);
    if (address.isEmpty())
        return fail(downloadstatus::RequestFailed, QStringLiteral("not an http or https address"));

    Transfer t{*this, sRemoteURL, sLocalFilePath, m_progressInterval};
    CURL *h = t.easy = easy.get();
    CurlTransfer transfer(h, address, m_limits.connectTimeout, m_limits.idleTimeout, m_limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "VB Http");
    // Always from the server: no cache on the way may answer.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);

    t.clock.start();
    const CURLcode code = transfer.run(m_multi, &m_bStop);
    result.bytes = t.bytes;
    result.httpStatus = t.httpStatus;
    // The last chunk's numbers, whatever the outcome.
    t.reportProgress(true);
    const auto [status, why] = m_bStop.load() ? std::pair(downloadstatus::Stopped, QString())
                                              : outcome(t, code, transfer);
    if (status != downloadstatus::ServerEnded) {
        if (t.file)
            t.file->cancelWriting();
        return fail(status, why);
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
