#include "services/ServicePages.h"

#include "services/AnswerCache.h"
#include "services/PageText.h"
#include "services/ServiceDatabase.h"
#include "services/registry/Registries.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace norvale {

namespace {

const std::string kHtmlUtf8 = "text/html; charset=utf-8";
const std::string kHtmlGb2312 = "text/html; charset=gb2312";

Reply htmlReply(int status, const QString &title, const QString &body)
{
    return {status, kHtmlUtf8, htmlPage(title, body, QStringLiteral("utf-8")).toUtf8(), false};
}

Reply fromTables(Reply reply)
{
    reply.fromTables = true;
    return reply;
}

Reply unavailable()
{
    Reply reply = htmlReply(503, QStringLiteral("服务暂不可用"), QStringLiteral("<p>数据库暂时无法打开，请稍后再试。</p>"));
    reply.reason = "database unavailable";
    return reply;
}

} // namespace

ServicePages::ServicePages(ServiceStore store, Registries *registries)
    : m_store(std::move(store)),
      m_registries(registries),
      m_cache(std::make_unique<AnswerCache>()),
      m_fileCounter(std::make_unique<SqliteFileCounter>())
{
}

void ServicePages::setChangeCounter(bool counted)
{
    m_counted = counted;
    if (counted && !m_store.postgres)
        m_fileCounter->open(m_store.file);
}

qint64 ServicePages::changeNumber(const QSqlDatabase &db) const
{
    // The file's counter first: a commit between the two reads then shows
    // as a changed counter next time, never as a stale number.
    const std::optional<uint32_t> file = m_fileCounter->read();
    if (file) {
        std::lock_guard lock(m_stampMutex);
        if (m_stamp && m_stamp->first == *file)
            return m_stamp->second;
    }
    const qint64 serial = changeSerial(db);
    if (file && serial >= 0) {
        std::lock_guard lock(m_stampMutex);
        m_stamp = std::pair(*file, serial);
    }
    return serial;
}

ServicePages::~ServicePages() = default;

bool ServicePages::answersAtOnce(std::string_view target) const
{
    return m_counted && !m_store.postgres && m_cache->holds(target);
}

QByteArray ServicePages::statsText() const
{
    return m_registries ? m_registries->statsText() : QByteArray();
}

Reply ServicePages::answer(const QString &path, const Parameters &parameters, std::string_view target) const
{
    for (bool retried = false;; retried = true) {
        const QSqlDatabase db = threadDatabase(m_store, retried);
        if (!db.isOpen())
            return unavailable();
        clearQueryFailure();
        const qint64 serial = m_counted && !target.empty() ? changeNumber(db) : -1;
        Reply reply;
        if (serial >= 0 && m_cache->find(target, serial, &reply))
            return reply;
        if (!queryFailed())
            reply = route(db, path, parameters);
        if (!queryFailed()) {
            if (serial >= 0 && reply.fromTables && reply.status == 200)
                m_cache->put(target, serial, reply);
            return reply;
        }
        // A statement the server refused fails the page; a kept connection
        // the server dropped (it restarted) is replaced once.
        forgetKeptQueries();
        if (retried || db.isOpen())
            return unavailable();
    }
}

Reply ServicePages::route(const QSqlDatabase &db, const QString &path, const Parameters &parameters) const
{
    // The operator's pages were ASP pages on a server that ignores letter case.
    const QString lower = path.toLower();
    if (lower == QLatin1StringView("/geturl/dataurl.asp"))
        return fromTables(dataAddress(db, parameters));
    if (lower == QLatin1StringView("/query/domain.asp"))
        return domainStatus(db, parameters.value(QStringLiteral("domain")));
    if (lower == QLatin1StringView("/query/whois.asp"))
        return whois(db, parameters.value(QStringLiteral("domain")));
    if (lower == QLatin1StringView("/query/ip.asp"))
        return fromTables(ipReverse(db, parameters.value(QStringLiteral("ip"))));
    if (lower == QLatin1StringView("/query/ipmess.asp"))
        return fromTables(ipLocation(db, parameters.value(QStringLiteral("ip"))));

    const QLatin1StringView downloads("/download/");
    if (lower.startsWith(downloads)) {
        // /download/NAME, or /download/VARIANT/NAME for the other ways of sending it.
        const QString rest = path.mid(downloads.size());
        const qsizetype slash = rest.indexOf(u'/');
        if (slash < 0)
            return download(db, rest, false);
        return downloadVariant(db, rest.left(slash).toLower(), rest.mid(slash + 1), parameters);
    }

    Reply file = storedFile(db, path);
    if (file.status == 200)
        return fromTables(std::move(file));
    return fromTables(linkPage(db, path, parameters));
}

Reply ServicePages::dataAddress(const QSqlDatabase &db, const Parameters &parameters) const
{
    const QString checkin = settingValue(db, QStringLiteral("checkin"), QStringLiteral("qomp58x"));
    const QString title = QStringLiteral("域名数据服务");
    if (parameters.value(QStringLiteral("checkin")) != checkin) {
        // Like any other page of the site: no marker, nothing to take.
        const QString body = QStringLiteral("<p>域名数据服务</p>\r\n<p>校验码错误，拒绝访问。</p>");
        return {200, kHtmlGb2312, encodeGb2312(htmlPage(title, body, QStringLiteral("gb2312"))), false};
    }

    QString connection = settingValue(db, QStringLiteral("connection"),
                                      QStringLiteral("{connection}"));
    connection.replace(QLatin1StringView("{connection}"), m_store.connectionText());
    connection.replace(QLatin1StringView("{database}"), m_store.databaseName());
    const QString data = scatterFillers(connection);

    const QString custom = settingValue(db, QStringLiteral("datatemplate"));
    if (!custom.isEmpty()) {
        QString page = custom;
        page.replace(QLatin1StringView("{data}"), data);
        return {200, kHtmlGb2312, encodeGb2312(page), false};
    }

    const QString marker = settingValue(db, QStringLiteral("datamarker"), QStringLiteral("|data|"));
    const QString body = QStringLiteral("<p>域名数据服务：数据地址接口</p>\r\n<p>") + marker + data + marker
                         + QStringLiteral("</p>\r\n<p>本页面供域名查询软件读取，请勿转载。</p>");
    return {200, kHtmlGb2312, encodeGb2312(htmlPage(title, body, QStringLiteral("gb2312"))), false};
}

Reply ServicePages::download(const QSqlDatabase &db, const QString &name, bool chunked) const
{
    Reply stored = storedFile(db, QStringLiteral("/download/") + name);
    if (stored.status != 200) {
        QString installerName;
        {
            QSqlQuery query(db);
            if (runQuery(query, QStringLiteral("SELECT ldownurl FROM lconfig_all")) && query.next())
                installerName = query.value(0).toString().section(u'/', -1);
        }
        if (name.isEmpty() || name != installerName)
            return notFound(QStringLiteral("/download/") + name);
        bool ok = false;
        qsizetype size = settingValue(db, QStringLiteral("installer_size")).toLongLong(&ok);
        if (!ok || size < 0)
            size = 393216;
        size = qMin<qsizetype>(size, 64 * 1024 * 1024);
        stored = {200, "application/octet-stream", installerBytes(size), false};
    }
    stored.chunked = chunked;
    return stored;
}

Reply ServicePages::downloadVariant(const QSqlDatabase &db, const QString &variant,
                                    const QString &name, const Parameters &parameters) const
{
    const QString path = QStringLiteral("/download/") + variant + u'/' + name;
    auto number = [&parameters](const char *key, qint64 fallback, qint64 most) {
        bool ok = false;
        const qint64 value = parameters.value(QLatin1StringView(key)).toLongLong(&ok);
        return ok && value >= 0 ? qMin(value, most) : fallback;
    };

    if (variant == QLatin1StringView("large")) {
        // Any size up to 64 GiB, made as it goes out.
        const qint64 size = number("size", -1, qint64(64) << 30);
        if (size < 0)
            return htmlReply(400, QStringLiteral("400 参数错误"),
                             QStringLiteral("<p>size 参数应为字节数。</p>"));
        Reply reply{200, "application/octet-stream", {}, false};
        reply.generatedSize = size;
        return reply;
    }

    if (variant == QLatin1StringView("chunked"))
        return download(db, name, true);
    Reply reply = download(db, name, false);
    if (reply.status != 200)
        return reply;
    if (variant == QLatin1StringView("short")) {
        reply.cutAfter = number("after", reply.body.size() / 2, reply.body.size());
        return reply;
    }
    if (variant == QLatin1StringView("trickle")) {
        reply.trickleBytes = int(number("bytes", 1024, 1024 * 1024));
        reply.trickleEveryMs = int(number("every", 50, 60 * 1000));
        reply.trickleBytes = qMax(reply.trickleBytes, 1);
        return reply;
    }
    return notFound(path);
}

Reply ServicePages::storedFile(const QSqlDatabase &db, const QString &path) const
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT lcontenttype, ldata FROM svc_files WHERE lpath = ?"));
    query.addBindValue(path);
    if (!runQuery(query) || !query.next())
        return {404, {}, {}, false};
    return {200, query.value(0).toString().toStdString(), query.value(1).toByteArray(), false};
}

Reply ServicePages::linkPage(const QSqlDatabase &db, const QString &path, const Parameters &parameters) const
{
    QString title;
    QString body;
    {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT ltitle, lbody FROM svc_pages WHERE lpath = ?"));
        query.addBindValue(path);
        if (!runQuery(query) || !query.next())
            return notFound(path);
        title = query.value(0).toString();
        body = query.value(1).toString();
    }
    // {base} is this service's address; {name} is the request's parameter of that name.
    static const QRegularExpression placeholder(QStringLiteral("\\{([a-z_]+)\\}"));
    QString filled;
    qsizetype last = 0;
    for (auto it = placeholder.globalMatch(body); it.hasNext();) {
        const auto match = it.next();
        filled += body.mid(last, match.capturedStart() - last);
        const QString key = match.captured(1);
        filled += key == QLatin1StringView("base") ? escapeHtml(m_base)
                                                    : escapeHtml(parameters.value(key));
        last = match.capturedEnd();
    }
    filled += body.mid(last);
    return htmlReply(200, escapeHtml(title),
                     QStringLiteral("<h1>") + escapeHtml(title) + QStringLiteral("</h1>\r\n") + filled
                         + QStringLiteral("\r\n<hr>\r\n<p><a href=\"") + escapeHtml(m_base)
                         + QStringLiteral("/\">返回首页</a></p>"));
}

Reply ServicePages::notFound(const QString &path) const
{
    return htmlReply(404, QStringLiteral("404 页面不存在"),
                     QStringLiteral("<p>页面 ") + escapeHtml(path) + QStringLiteral(" 不存在。</p>"));
}

} // namespace norvale
