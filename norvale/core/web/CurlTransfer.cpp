#include "norvale/core/web/CurlTransfer.h"

#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace norvale::curltransfer {

namespace {

bool privateV4(const unsigned char *a)
{
    return a[0] == 0 || a[0] == 10 || a[0] == 127 || (a[0] == 169 && a[1] == 254)
           || (a[0] == 172 && (a[1] & 0xf0) == 16) || (a[0] == 192 && a[1] == 168);
}

// How often a running transfer looks at its stop flag.
constexpr int stopCheckMs = 100;

} // namespace

bool isPrivateAddress(const char *ip)
{
    unsigned char bytes[16] = {};
    if (!ip)
        return false;
    if (inet_pton(AF_INET, ip, bytes) == 1)
        return privateV4(bytes);
    if (inet_pton(AF_INET6, ip, bytes) != 1)
        return false;
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes, mapped, sizeof mapped) == 0)
        return privateV4(bytes + 12);
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(bytes, loopback, 16) == 0 || (bytes[0] & 0xfe) == 0xfc
           || (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80);
}

bool ready()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

QByteArray httpAddress(const QString &url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return {};
    const QString scheme = parsed.scheme();
    if (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))
        return {};
    return parsed.toEncoded();
}

CurlTransfer::CurlTransfer(CURL *easy, const QByteArray &address, std::chrono::seconds connectTimeout,
                           std::chrono::seconds idleTimeout, long maxRedirects)
    : m_easy(easy)
{
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &checkConnection);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(easy, CURLOPT_URL, address.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(connectTimeout.count() * 1000));
    // Less than one byte per second over the idle time aborts the transfer.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(std::max<qint64>(1, idleTimeout.count())));
}

// Called before each request goes out on its connection: the first is the
// page itself, every later one follows a redirect.
int CurlTransfer::checkConnection(void *user, char *primaryIp, char *, int, int)
{
    auto *transfer = static_cast<CurlTransfer *>(user);
    const bool isPrivate = isPrivateAddress(primaryIp);
    if (transfer->m_requests++ == 0)
        transfer->m_startedPrivate = isPrivate;
    else if (isPrivate && !transfer->m_startedPrivate) {
        transfer->m_redirectRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

// The multi interface, not curl_easy_perform, so that the stop flag is
// looked at while nothing arrives.
CURLcode CurlTransfer::run(CURLM *multi, const StopFlag *stop)
{
    if (curl_multi_add_handle(multi, m_easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    for (;;) {
        if (stop && stop->load()) {
            m_stopped = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_SEND_ERROR;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE)
                    result = message->data.result;
            }
            break;
        }
        if (curl_multi_poll(multi, nullptr, 0, stopCheckMs, nullptr) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
    }
    // A transfer left unfinished closes its connection.
    curl_multi_remove_handle(multi, m_easy);
    return result;
}

QString CurlTransfer::failure(CURLcode code) const
{
    if (m_redirectRefused)
        return QStringLiteral("redirected from the internet into a private network");
    return QString::fromUtf8(m_errorText[0] ? m_errorText : curl_easy_strerror(code));
}

} // namespace norvale::curltransfer
