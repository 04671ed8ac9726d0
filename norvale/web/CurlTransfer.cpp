#include "norvale/web/CurlTransfer.h"

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

// Called before each request goes out on its connection: the first is the
// page itself, every later one follows a redirect.
int checkConnection(void *user, char *primaryIp, char *, int, int)
{
    auto *guard = static_cast<RedirectGuard *>(user);
    const bool isPrivate = isPrivateAddress(primaryIp);
    if (guard->requests++ == 0)
        guard->startedPrivate = isPrivate;
    else if (isPrivate && !guard->startedPrivate) {
        guard->refused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

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

void setBoundedGet(CURL *handle, const QByteArray &address, std::chrono::seconds connectTimeout,
                   std::chrono::seconds idleTimeout, long maxRedirects, RedirectGuard *guard)
{
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &checkConnection);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, guard);
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
