#include "norvale/core/web/GetBody.h"

#include "norvale/core/web/CurlTransfer.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

namespace norvale {

namespace {

using namespace curltransfer;

struct Transfer {
    QByteArray body;
    qint64 maxBody = 0;
    bool tooLarge = false;
    bool outOfMemory = false;
};

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    const size_t n = size * count;
    // Checked here as well as through the announced length: a body without
    // Content-Length (or with a false one) must not grow without bound.
    if (qint64(transfer->body.size()) + qint64(n) > transfer->maxBody) {
        transfer->tooLarge = true;
        return 0;
    }
    try {
        transfer->body.append(data, qsizetype(n));
    } catch (const std::bad_alloc &) {
        // Exceptions must not cross libcurl's C frames.
        transfer->outOfMemory = true;
        return 0;
    }
    return n;
}

PageFetch failed(const QString &why)
{
    PageFetch result;
    result.error = why;
    return result;
}

// Host-name answers and TLS sessions, shared by every thread's handles, so
// that a server is looked up once and a second connection to it resumes the
// first one's TLS session. (libcurl does not support sharing the
// connections themselves across threads; those are kept per thread below.)
CURLSH *sharedCaches()
{
    static CURLSH *const share = [] {
        // Never destroyed, like the share: a thread may still end its
        // handles while the process goes down.
        static auto *const locks = new std::mutex[CURL_LOCK_DATA_LAST];
        CURLSH *made = curl_share_init();
        if (!made)
            return made;
        curl_share_setopt(made, CURLSHOPT_LOCKFUNC,
                          +[](CURL *, curl_lock_data data, curl_lock_access, void *) { locks[data].lock(); });
        curl_share_setopt(made, CURLSHOPT_UNLOCKFUNC,
                          +[](CURL *, curl_lock_data data, void *) { locks[data].unlock(); });
        curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        return made;
    }();
    return share;
}

// The calling thread's handles, kept from one fetch to the next. The multi
// handle holds the thread's open connections, so a worker's next fetch from
// the same server skips the connect (and the TLS handshake); they close when
// the thread ends or the server closes them.
struct KeptHandles {
    Multi multi{curl_multi_init()};   // declared first: its connections outlive the easy handle
    Easy easy{curl_easy_init()};
};

} // namespace

PageFetch fetchPage(const QString &url, const StopFlag *stop)
{
    return fetchPage(url, FetchLimits{}, stop);
}

PageFetch fetchPage(const QString &url, const FetchLimits &limits, const StopFlag *stop)
{
    if (stop && stop->load())
        return failed(QStringLiteral("stopped"));
    const QByteArray address = httpAddress(url);
    if (address.isEmpty())
        return failed(QStringLiteral("not an http or https address"));
    if (!ready())
        return failed(QStringLiteral("the HTTP library did not initialise"));

    thread_local KeptHandles kept;
    if (!kept.multi || !kept.easy)
        return failed(QStringLiteral("no HTTP handle"));
    const List headers(curl_slist_append(nullptr, "If-Modified-Since: 0"));
    if (!headers)
        return failed(QStringLiteral("out of memory"));

    Transfer transfer;
    transfer.maxBody = limits.maxBodyBytes;

    CURL *h = kept.easy.get();
    // Every option afresh (nothing of the last fetch, whose pointers are
    // gone); the connections and caches stay.
    curl_easy_reset(h);
    curl_easy_setopt(h, CURLOPT_SHARE, sharedCaches());
    CurlTransfer fetch(h, address, limits.connectTimeout, limits.idleTimeout, limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    // A server that sends a byte now and then never trips the idle limit.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(limits.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);

    const CURLcode code = fetch.run(kept.multi.get(), stop);
    if (code != CURLE_OK) {
        if (fetch.stopped())
            return failed(QStringLiteral("stopped"));
        if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
            return failed(QStringLiteral("body larger than %1 bytes").arg(limits.maxBodyBytes));
        if (transfer.outOfMemory)
            return failed(QStringLiteral("out of memory"));
        return failed(fetch.failure(code));
    }

    PageFetch result;
    result.transportOk = true;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    result.body = std::move(transfer.body);
    return result;
}

std::optional<QString> BytesToBstr(const QByteArray &strBody, const QString &CodeBase)
{
    // Registry names are plain ASCII; anything else (or an embedded NUL that
    // would cut the name short) names no character set.
    for (const QChar c : CodeBase) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return std::nullopt;
    }
    // The strict GB2312 table lacks characters real pages use; code page 936
    // (GBK) is the superset the name stands for on the platform.
    const QByteArray name = CodeBase.compare(QLatin1StringView("GB2312"), Qt::CaseInsensitive) == 0
                                ? QByteArray("GBK")
                                : CodeBase.toLatin1();
    if (name.isEmpty())
        return std::nullopt;
    // Kept stateful, so that an unfinished character at the end of the body
    // is still held afterwards: a line break fed after it brings it out as
    // U+FFFD instead of losing it.
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(strBody);
    QStringEncoder encoder(name.constData());
    if (encoder.isValid()) {
        QString tail = decoder.decode(encoder.encode(u"\n"));
        if (tail.endsWith(u'\n'))
            tail.chop(1);
        text += tail;
    }
    return text;
}

PageText fetchText(const QString &URL, const QString &Coding, const StopFlag *stop)
{
    const PageFetch page = fetchPage(URL, stop);
    PageText result;
    result.transportOk = page.transportOk;
    result.httpStatus = page.httpStatus;
    if (page.transportOk)
        result.text = BytesToBstr(page.body, Coding).value_or(QString());
    return result;
}

QString GetBody(const QString &URL, const QString &Coding, const StopFlag *stop)
{
    try {
        return fetchText(URL, Coding, stop).text;
    } catch (...) {
        // Callers rely on an empty page, never an error.
        return {};
    }
}

} // namespace norvale
