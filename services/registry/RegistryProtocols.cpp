#include "services/registry/RegistryProtocols.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>

#include <curl/curl.h>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace norvale {

namespace {

constexpr qsizetype kMaxAnswer = 1024 * 1024;

long remainingMs(RegistryClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - RegistryClock::now());
    return long(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

struct Transfer {
    QByteArray body;
    QByteArray retryAfter;
};

size_t keepBody(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    const size_t bytes = size * count;
    if (transfer->body.size() + qsizetype(bytes) > kMaxAnswer)
        return 0;   // ends the transfer: no answer of ours is that large
    transfer->body.append(data, qsizetype(bytes));
    return bytes;
}

size_t keepHeader(char *data, size_t size, size_t count, void *user)
{
    const size_t bytes = size * count;
    const QByteArray line = QByteArray(data, qsizetype(bytes)).trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().toLower() == "retry-after")
        static_cast<Transfer *>(user)->retryAfter = line.mid(colon + 1).trimmed();
    return bytes;
}

int checkAbandon(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *abandon = static_cast<const std::atomic<bool> *>(user);
    return abandon && abandon->load() ? 1 : 0;
}

struct EasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// A name lookup that may outlive the ask that started it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    addrinfo *result = nullptr;
};

// getaddrinfo within the bound: the resolver's own retries can take far
// longer than a page may wait. An address is taken as it is; a name is
// looked up on a thread of its own, left to finish alone when the bound
// passes. nullptr when nothing came in time.
addrinfo *lookUp(const QString &host, int port, RegistryClock::time_point until)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    const QByteArray name = host.toUtf8();
    const QByteArray service = QByteArray::number(port);
    addrinfo *found = nullptr;
    if (::getaddrinfo(name.constData(), service.constData(), &hints, &found) == 0)
        return found;
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name, service] {
        addrinfo wanted{};
        wanted.ai_family = AF_UNSPEC;
        wanted.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        if (::getaddrinfo(name.constData(), service.constData(), &wanted, &result) != 0)
            result = nullptr;
        std::lock_guard lock(lookup->mutex);
        if (lookup->abandoned && result)
            ::freeaddrinfo(result);
        else
            lookup->result = result;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, until, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        return nullptr;
    }
    return lookup->result;
}

// The first of addresses that takes a connection within the bound; -1.
int connectTo(addrinfo *addresses, RegistryClock::time_point until)
{
    for (addrinfo *at = addresses; at; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, at->ai_addr, at->ai_addrlen) == 0)
            return fd;
        if (errno == EINPROGRESS) {
            pollfd one{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            if (::poll(&one, 1, int(remainingMs(until))) == 1
                && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                return fd;
        }
        ::close(fd);
    }
    return -1;
}

QString jsonText(const QJsonValue &value)
{
    return value.toString().simplified();
}

// The formatted name of an entity's vCard (jCard), or its handle.
QString entityName(const QJsonObject &entity)
{
    const QJsonArray card = entity.value(QLatin1StringView("vcardArray")).toArray();
    for (const QJsonValue &property : card.at(1).toArray()) {
        const QJsonArray fields = property.toArray();
        if (fields.at(0).toString() == QLatin1StringView("fn"))
            return jsonText(fields.at(3));
    }
    return jsonText(entity.value(QLatin1StringView("handle")));
}

} // namespace

RegistryReply rdapGet(const QString &address, const ExchangeBounds &bounds)
{
    RegistryReply reply;
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    std::unique_ptr<CURL, EasyDeleter> easy(started ? curl_easy_init() : nullptr);
    const long total = remainingMs(bounds.deadline);
    if (!easy || total <= 0)
        return reply;
    Transfer transfer;
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Accept: application/rdap+json, application/json"));
    const QByteArray url = address.toUtf8();
    CURL *h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "norvale-services");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(std::min<long>(bounds.connect.count(), total)));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, total);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, keepHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    if (bounds.abandon) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkAbandon);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, bounds.abandon);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t connectTime = 0;
    curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime);
    reply.connected = connectTime > 0 || status > 0;
    reply.complete = code == CURLE_OK;
    reply.httpStatus = int(status);
    reply.body = transfer.body;
    if (!transfer.retryAfter.isEmpty())
        reply.retryAfter = readRetryAfter(transfer.retryAfter);
    return reply;
}

RegistryReply whoisAsk(const QString &host, int port, const QString &query, const ExchangeBounds &bounds)
{
    RegistryReply reply;
    const auto connectUntil = std::min(bounds.deadline, RegistryClock::now() + bounds.connect);
    addrinfo *addresses = lookUp(host, port, connectUntil);
    if (!addresses)
        return reply;
    const int fd = connectTo(addresses, connectUntil);
    ::freeaddrinfo(addresses);
    if (fd < 0)
        return reply;
    reply.connected = true;
    const QByteArray request = query.toUtf8() + "\r\n";
    qsizetype sent = 0;
    bool open = true;
    while (open && sent < request.size()) {
        pollfd one{fd, POLLOUT, 0};
        if (::poll(&one, 1, int(remainingMs(bounds.deadline))) != 1) {
            open = false;
            break;
        }
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            open = false;
        else
            sent += n;
    }
    while (open) {
        pollfd one{fd, POLLIN, 0};
        if (::poll(&one, 1, int(remainingMs(bounds.deadline))) != 1)
            break;   // the whole answer took too long
        char buffer[8192];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) {
            reply.complete = true;
            break;
        }
        if (n < 0 || reply.body.size() + n > kMaxAnswer)
            break;
        reply.body.append(buffer, n);
    }
    ::close(fd);
    return reply;
}

std::chrono::milliseconds readRetryAfter(const QByteArray &value)
{
    bool ok = false;
    const qint64 seconds = value.trimmed().toLongLong(&ok);
    if (ok)
        return std::chrono::milliseconds(seconds >= 0 ? std::min<qint64>(seconds, 24 * 3600) * 1000 : -1);
    // An HTTP date (RFC 9110's IMF-fixdate) is always in GMT.
    QDateTime when = QLocale::c().toDateTime(QString::fromLatin1(value.trimmed()),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    when.setTimeZone(QTimeZone::utc());
    if (!when.isValid())
        return std::chrono::milliseconds(-1);
    return std::chrono::milliseconds(std::max<qint64>(QDateTime::currentDateTimeUtc().msecsTo(when), 0));
}

QString decodeWhoisText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb18030("GB18030");
    if (!gb18030.isValid())
        return QString::fromLatin1(bytes);
    return gb18030.decode(bytes);
}

Verdict rdapVerdict(const RegistryReply &reply)
{
    if (!reply.complete)
        return Verdict::Unknown;
    if (reply.httpStatus == 404)
        return Verdict::Free;
    if (reply.httpStatus != 200)
        return Verdict::Unknown;
    const QJsonDocument document = QJsonDocument::fromJson(reply.body);
    const QJsonObject object = document.object();
    // A domain object, by its class name or, from an older server, by its name.
    if (object.value(QLatin1StringView("objectClassName")).toString() == QLatin1StringView("domain")
        || object.value(QLatin1StringView("ldhName")).isString())
        return Verdict::Registered;
    return Verdict::Unknown;
}

bool whoisIsThrottled(const QString &text)
{
    static const QRegularExpression refusal(
        QStringLiteral("limit exceeded|exceeded (the|your)|too many (queries|requests)|try again later|"
                       "quota exceeded|rate limit|access denied|请求过于频繁|查询过于频繁"),
        QRegularExpression::CaseInsensitiveOption);
    return refusal.match(text).hasMatch();
}

Verdict whoisVerdict(const QString &text, const QString &query, const QStringList &noMatch)
{
    if (text.trimmed().isEmpty() || whoisIsThrottled(text))
        return Verdict::Unknown;
    for (const QString &phrase : noMatch) {
        if (text.contains(phrase, Qt::CaseInsensitive))
            return Verdict::Free;
    }
    static const QRegularExpression record(QStringLiteral("^\\s*domain( name)?\\s*:"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::MultilineOption);
    if (text.contains(query, Qt::CaseInsensitive) || record.match(text).hasMatch())
        return Verdict::Registered;
    return Verdict::Unknown;
}

QString rdapAsText(const QByteArray &json)
{
    const QJsonObject domain = QJsonDocument::fromJson(json).object();
    QStringList lines;
    lines << QStringLiteral("Domain Name: ") + jsonText(domain.value(QLatin1StringView("ldhName"))).toUpper();
    const QString unicode = jsonText(domain.value(QLatin1StringView("unicodeName")));
    if (!unicode.isEmpty())
        lines << QStringLiteral("Domain Name (Unicode): ") + unicode;
    const QString handle = jsonText(domain.value(QLatin1StringView("handle")));
    if (!handle.isEmpty())
        lines << QStringLiteral("Registry Domain ID: ") + handle;
    for (const QJsonValue &value : domain.value(QLatin1StringView("entities")).toArray()) {
        const QJsonObject entity = value.toObject();
        const QJsonArray roles = entity.value(QLatin1StringView("roles")).toArray();
        for (const QJsonValue &role : roles) {
            const QString name = entityName(entity);
            if (role.toString() == QLatin1StringView("registrar") && !name.isEmpty())
                lines << QStringLiteral("Registrar: ") + name;
            else if (role.toString() == QLatin1StringView("registrant") && !name.isEmpty())
                lines << QStringLiteral("Registrant: ") + name;
        }
    }
    static const QList<std::pair<const char *, QString>> events{
        {"registration", QStringLiteral("Creation Date: ")},
        {"last changed", QStringLiteral("Updated Date: ")},
        {"expiration", QStringLiteral("Registry Expiry Date: ")}};
    const QJsonArray happened = domain.value(QLatin1StringView("events")).toArray();
    for (const auto &[action, label] : events) {
        for (const QJsonValue &value : happened) {
            const QJsonObject event = value.toObject();
            if (event.value(QLatin1StringView("eventAction")).toString() == QLatin1StringView(action))
                lines << label + jsonText(event.value(QLatin1StringView("eventDate")));
        }
    }
    for (const QJsonValue &status : domain.value(QLatin1StringView("status")).toArray())
        lines << QStringLiteral("Domain Status: ") + jsonText(status);
    for (const QJsonValue &value : domain.value(QLatin1StringView("nameservers")).toArray())
        lines << QStringLiteral("Name Server: ") + jsonText(value.toObject().value(QLatin1StringView("ldhName"))).toUpper();
    const QJsonObject dnssec = domain.value(QLatin1StringView("secureDNS")).toObject();
    if (!dnssec.isEmpty())
        lines << QStringLiteral("DNSSEC: ")
                     + (dnssec.value(QLatin1StringView("delegationSigned")).toBool() ? QStringLiteral("signedDelegation")
                                                                                   : QStringLiteral("unsigned"));
    return lines.join(QStringLiteral("\r\n"));
}

QString whoisReferral(const QString &text)
{
    static const QRegularExpression line(QStringLiteral("^\\s*(?:Registrar WHOIS Server|Whois Server|ReferralServer)\\s*:\\s*(?:r?whois://)?([A-Za-z0-9.-]+)"),
                                         QRegularExpression::CaseInsensitiveOption
                                             | QRegularExpression::MultilineOption);
    return line.match(text).captured(1).toLower();
}

} // namespace norvale
