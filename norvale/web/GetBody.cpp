#include "norvale/web/GetBody.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

namespace norvale {

namespace {

// Process-wide libcurl set-up; must run once before any handle exists and is
// never undone, since worker threads may fetch until the process ends.
bool curlReady()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

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

// The address as bytes for libcurl: non-ASCII text is percent-encoded (UTF-8)
// and host names go to their ASCII form, as a browser would send them.
// Anything that is not an absolute http or https address is refused here.
QByteArray encodedAddress(const QString &url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return {};
    const QString scheme = parsed.scheme();
    if (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))
        return {};
    return parsed.toEncoded();
}

struct EasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
struct MultiDeleter {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};

// How often a running transfer looks at its stop flag.
constexpr int stopCheckMs = 100;

// Runs the prepared transfer to its end, or until the stop flag is set. The
// multi interface, not curl_easy_perform, so that the flag is looked at every
// tenth of a second even while nothing arrives.
CURLcode perform(CURL *easy, const StopFlag *stop, bool *stopped)
{
    *stopped = false;
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_SEND_ERROR;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg *message = curl_multi_info_read(multi.get(), &left)) {
                if (message->msg == CURLMSG_DONE)
                    result = message->data.result;
            }
            break;
        }
        if (stop && stop->load()) {
            *stopped = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, stopCheckMs, nullptr) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
    }
    curl_multi_remove_handle(multi.get(), easy);
    return result;
}

} // namespace

PageFetch fetchPage(const QString &url, const StopFlag *stop)
{
    return fetchPage(url, FetchLimits{}, stop);
}

PageFetch fetchPage(const QString &url, const FetchLimits &limits, const StopFlag *stop)
{
    if (stop && stop->load())
        return failed(QStringLiteral("stopped"));
    const QByteArray address = encodedAddress(url);
    if (address.isEmpty())
        return failed(QStringLiteral("not an http or https address"));
    if (!curlReady())
        return failed(QStringLiteral("the HTTP library did not initialise"));

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return failed(QStringLiteral("no HTTP handle"));
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "If-Modified-Since: 0"));
    if (!headers)
        return failed(QStringLiteral("out of memory"));

    Transfer transfer;
    transfer.maxBody = limits.maxBodyBytes;
    char errorText[CURL_ERROR_SIZE] = {};

    CURL *h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    // Worker threads: no SIGALRM-based time-outs.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Redirect responses' own bodies are not passed on; only the last page's is.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeout.count() * 1000));
    // Less than one byte per second over the idle time aborts the transfer.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(std::max<qint64>(1, limits.idleTimeout.count())));
    // A server that sends a byte now and then never trips the idle limit.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(limits.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);

    bool stopped = false;
    const CURLcode code = perform(h, stop, &stopped);
    if (code != CURLE_OK) {
        if (stopped)
            return failed(QStringLiteral("stopped"));
        if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
            return failed(QStringLiteral("body larger than %1 bytes").arg(limits.maxBodyBytes));
        if (transfer.outOfMemory)
            return failed(QStringLiteral("out of memory"));
        const char *why = errorText[0] ? errorText : curl_easy_strerror(code);
        return failed(QString::fromUtf8(why));
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
