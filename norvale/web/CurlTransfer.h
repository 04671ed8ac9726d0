#pragma once

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <chrono>
#include <memory>

namespace norvale::curltransfer {

// What every HTTP transfer of the program shares: the library's one-time
// start, the address check and the options that bound a transfer. Used by
// the page fetch and the installer download.

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

// Follows a transfer's connections so that a page on the open internet
// cannot redirect it into the machine or its private network; a page that
// is itself there (the local services) may. One per transfer, alive while
// it runs.
struct RedirectGuard {
    int requests = 0;
    bool startedPrivate = false;
    bool refused = false;  // a redirect went where it may not
};

// GET of address over http or https only, following at most maxRedirects
// redirects (http and https only), with the connect limit and an abort after
// idleTimeout without data (whole seconds, at least 1). No signals: the
// transfers run on worker threads. The guard refuses redirects into private
// networks.
void setBoundedGet(CURL *handle, const QByteArray &address, std::chrono::seconds connectTimeout,
                   std::chrono::seconds idleTimeout, long maxRedirects, RedirectGuard *guard);

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
