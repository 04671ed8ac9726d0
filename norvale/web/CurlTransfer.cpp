#include "norvale/web/CurlTransfer.h"

#include <QUrl>

#include <algorithm>
#include <mutex>

namespace norvale::curltransfer {

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

void setBoundedGet(CURL *handle, const QByteArray &address, std::chrono::seconds connectTimeout,
                   std::chrono::seconds idleTimeout, long maxRedirects)
{
    curl_easy_setopt(handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(connectTimeout.count() * 1000));
    // Less than one byte per second over the idle time aborts the transfer.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, long(std::max<qint64>(1, idleTimeout.count())));
}

} // namespace norvale::curltransfer
