#pragma once

#include "norvale/core/work/StopFlag.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <chrono>
#include <memory>

namespace norvale::curltransfer {

// What every HTTP transfer of the program shares: the library's one-time
// start, the address check, the options that bound a transfer and the loop
// that runs it. Used by the page fetch and the installer download.

// Starts libcurl once for the process (never undone: worker threads may
// transfer until the process ends). False when it could not start.
bool ready();

// The address as bytes for libcurl: non-ASCII text is percent-encoded
// (UTF-8) and host names go to their ASCII form, as a browser would send
// them. Empty for anything that is not an absolute http or https address.
QByteArray httpAddress(const QString &url);

// Whether an IP address (text, v4 or v6) is the machine's own or of a
// private network: loopback, link-local, 0.0.0.0/8, 10/8, 172.16/12,
// 192.168/16, fc00::/7, and the same written as IPv4-mapped IPv6.
bool isPrivateAddress(const char *ip);

// One GET on an easy handle, which the caller has reset or made afresh and
// may give further options (headers, callbacks) before run(). Over http or
// https only, following at most maxRedirects redirects (http and https
// only), with the connect limit and an abort after idleTimeout without data
// (whole seconds, at least 1). No signals: transfers run on worker threads.
// A page on the open internet cannot redirect the transfer into the machine
// or its private network; a page that is itself there (the local services)
// may. The handle points at this object until it ends.
class CurlTransfer {
public:
    CurlTransfer(CURL *easy, const QByteArray &address, std::chrono::seconds connectTimeout,
                 std::chrono::seconds idleTimeout, long maxRedirects);
    CurlTransfer(const CurlTransfer &) = delete;
    CurlTransfer &operator=(const CurlTransfer &) = delete;

    // Runs the transfer on multi to its end, or until *stop is set. The flag
    // is looked at every tenth of a second even while nothing arrives, and at
    // once when curl_multi_wakeup wakes multi. A finished transfer's
    // connection stays with multi for the next one.
    CURLcode run(CURLM *multi, const StopFlag *stop);
    bool stopped() const { return m_stopped; }
    // Why a transfer that did not end in CURLE_OK failed, for the log.
    QString failure(CURLcode code) const;

private:
    static int checkConnection(void *user, char *primaryIp, char *, int, int);

    CURL *m_easy;
    int m_requests = 0;
    bool m_startedPrivate = false;
    bool m_redirectRefused = false;
    bool m_stopped = false;
    char m_errorText[CURL_ERROR_SIZE] = {};
};

struct EasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM *handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

} // namespace norvale::curltransfer
