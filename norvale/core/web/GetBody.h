#pragma once

#include "norvale/core/work/StopFlag.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <optional>

namespace norvale {

// One HTTP GET as the program makes it, with the outcome spelled out for the
// callers that must tell a failed fetch from an empty page.
struct PageFetch {
    bool transportOk = false;  // an HTTP response arrived completely (any status)
    long httpStatus = 0;       // 0 when no response arrived
    QByteArray body;           // the bytes exactly as received; empty on failure
    QString error;             // why the transport failed; empty when it did not
};

// The limits every fetch runs under, so that a dead or hostile server can
// neither hang a worker for ever nor fill the memory.
struct FetchLimits {
    std::chrono::seconds connectTimeout{60};
    std::chrono::seconds idleTimeout{30};      // abort after this long without data (whole seconds, >= 1)
    // The whole fetch, however the data trickles in; 0: none (a download).
    std::chrono::milliseconds totalTimeout{std::chrono::seconds(NORVALE_PAGE_TIME_LIMIT)};
    long maxRedirects = 10;
    qint64 maxBodyBytes = 32 * 1024 * 1024;    // a longer body fails the transport
};

// GET with "If-Modified-Since: 0". Connect limit 60 s, abort after 30 s
// without data or once the page has taken 60 s in all, at most 10 redirects
// over http/https only, bodies above 32 MiB count as a failed transport. Only
// http and https addresses are fetched. A fetch whose stop flag is set fails
// at once. Thread-safe; blocks the calling thread.
PageFetch fetchPage(const QString &url, const StopFlag *stop = nullptr);
PageFetch fetchPage(const QString &url, const FetchLimits &limits, const StopFlag *stop = nullptr);

// Decodes a whole body from a named character set: "GB2312" is read as GBK,
// "UTF-8" as UTF-8, any other name as the encoding registry knows it. Names
// compare case-insensitively, as the registry does. Undecodable bytes become
// U+FFFD; a leading UTF-8 byte-order mark is dropped. nullopt when the
// character set is not known.
std::optional<QString> BytesToBstr(const QByteArray &strBody, const QString &CodeBase);

// fetchPage and BytesToBstr together; text is empty when either failed.
struct PageText {
    bool transportOk = false;
    long httpStatus = 0;
    QString text;
};
PageText fetchText(const QString &URL, const QString &Coding, const StopFlag *stop = nullptr);

// The page's decoded text, or the empty text on any failure. Never throws.
QString GetBody(const QString &URL, const QString &Coding, const StopFlag *stop = nullptr);

} // namespace norvale
