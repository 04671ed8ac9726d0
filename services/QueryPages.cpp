// The query pages that Norvale reads by their markers: domain status, whois,
// IP reverse lookup and IP geolocation.
#include "services/ServicePages.h"

#include "services/GeoFile.h"
#include "services/PageText.h"
#include "services/ServiceDatabase.h"
#include "services/registry/Registries.h"

#include <QSqlQuery>
#include <QStringList>

namespace norvale {

namespace {

const std::string kHtmlUtf8 = "text/html; charset=utf-8";

Reply utf8Reply(const QString &title, const QString &body)
{
    return {200, kHtmlUtf8, htmlPage(title, body, QStringLiteral("utf-8")).toUtf8(), false};
}

QString cleanName(const QString &text)
{
    return text.trimmed().toLower();
}

Reply gb2312Reply(int status, const QString &title, const QString &body)
{
    return {status, "text/html; charset=gb2312", encodeGb2312(htmlPage(title, body, QStringLiteral("gb2312"))), false};
}

} // namespace

Reply ServicePages::domainStatus(const QSqlDatabase &db, const QString &domain) const
{
    const QString name = cleanName(domain);
    QString registered;
    if (!name.isEmpty()) {
        for (const char *sql : {"SELECT ldomain FROM svc_registered WHERE ldomain = ?",
                                "SELECT lallname FROM ldomainlist WHERE lower(lallname) = ?"}) {
            QSqlQuery &query = keptQuery(db, QString::fromLatin1(sql));
            query.addBindValue(name);
            if (runQuery(query) && query.next())
                registered = query.value(0).toString().toLower();
            query.finish();
            if (!registered.isEmpty())
                break;
        }
    }

    const QString title = QStringLiteral("域名注册查询");
    // What the tables do not decide, the registry does; a name no host can
    // carry, none can hold. Unknown is never answered as free.
    bool askedRegistry = false;
    if (registered.isEmpty() && m_registries && !queryFailed() && !asciiDomain(name).isEmpty()) {
        askedRegistry = true;
        switch (m_registries->status(db, name)) {
        case Verdict::Registered:
            registered = name;
            break;
        case Verdict::Free:
            break;
        case Verdict::Unknown: {
            Reply reply = gb2312Reply(503, title, QStringLiteral("<p>域名 <b>") + escapeHtml(name)
                                                      + QStringLiteral("</b> 的注册局暂时无法回答，请稍后再查。</p>"));
            reply.reason = "no registry verdict";
            return reply;
        }
        }
    }
    QString body;
    if (registered.isEmpty()) {
        body = QStringLiteral("<p>域名 <b>") + escapeHtml(name)
               + QStringLiteral("</b> 尚未被注册，欢迎注册！</p>");
    } else {
        body = QStringLiteral("<p>域名 <b>") + escapeHtml(registered)
               + QStringLiteral("</b> 已被注册。</p>\r\n<p>|domain|") + registered
               + QStringLiteral("|domain|</p>");
    }
    Reply reply = gb2312Reply(200, title, body);
    reply.fromTables = !askedRegistry;
    return reply;
}

Reply ServicePages::whois(const QSqlDatabase &db, const QString &domain) const
{
    const QString name = cleanName(domain);
    const QString title = QStringLiteral("Whois 查询");
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "SELECT ldomain, lregistrar, lregistrant, lemail, lcreated, lexpires, lstatus, lns1, lns2 "
        "FROM svc_whois WHERE ldomain = ?"));
    query.addBindValue(name);
    if (name.isEmpty() || !runQuery(query) || !query.next()) {
        if (m_registries && !queryFailed() && !asciiDomain(name).isEmpty()) {
            Verdict verdict = Verdict::Unknown;
            const QString record = m_registries->whois(name, &verdict);
            if (verdict == Verdict::Unknown) {
                Reply reply{503, kHtmlUtf8, htmlPage(title, QStringLiteral("<p>注册局暂时无法回答，请稍后再查。</p>"),
                                                     QStringLiteral("utf-8")).toUtf8(), false};
                reply.reason = "no registry verdict";
                return reply;
            }
            if (verdict == Verdict::Registered) {
                // The registry's text as it is (Norvale shows it as plain
                // text, as it shows the table's), without a marker inside.
                QString text = record;
                text.replace(QStringLiteral("|whois|"), QStringLiteral("| whois |"));
                return utf8Reply(title, QStringLiteral("<pre>|whois|") + text
                                            + QStringLiteral("|whois|</pre>"));
            }
        }
        Reply none = utf8Reply(title, QStringLiteral("<p>没有找到 ") + escapeHtml(name)
                                          + QStringLiteral(" 的 Whois 信息。</p>"));
        none.fromTables = !m_registries || asciiDomain(name).isEmpty();
        return none;
    }

    QStringList lines;
    lines << QStringLiteral("Domain Name: ") + query.value(0).toString().toUpper()
          << QStringLiteral("Registrar: ") + query.value(1).toString()
          << QStringLiteral("Registrant: ") + query.value(2).toString()
          << QStringLiteral("Registrant Contact Email: ") + query.value(3).toString()
          << QStringLiteral("Creation Date: ") + query.value(4).toString()
          << QStringLiteral("Registry Expiry Date: ") + query.value(5).toString();
    const QStringList statuses = query.value(6).toString().split(u' ', Qt::SkipEmptyParts);
    for (const QString &status : statuses)
        lines << QStringLiteral("Domain Status: ") + status;
    for (int column : {7, 8}) {
        const QString server = query.value(column).toString();
        if (!server.isEmpty())
            lines << QStringLiteral("Name Server: ") + server.toUpper();
    }
    lines << QStringLiteral("DNSSEC: unsigned");
    const QString text = lines.join(QStringLiteral("\r\n"));
    Reply reply = utf8Reply(title, QStringLiteral("<pre>|whois|") + text + QStringLiteral("|whois|</pre>"));
    reply.fromTables = true;
    return reply;
}

Reply ServicePages::ipReverse(const QSqlDatabase &db, const QString &address) const
{
    const QString ip = address.trimmed();
    QStringList items;
    if (!ip.isEmpty()) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT ldomain FROM svc_hosts WHERE lip = ? ORDER BY rowid"));
        query.addBindValue(ip);
        if (runQuery(query)) {
            while (query.next()) {
                const QString domain = query.value(0).toString();
                items << QStringLiteral("<li><a href=\"http://") + escapeHtml(domain)
                             + QStringLiteral("/\" target=\"_blank\">|cite|") + domain
                             + QStringLiteral("|/cite|</a></li>");
            }
        }
    }
    const QString title = QStringLiteral("IP反查域名");
    QString body = QStringLiteral("<h3>IP地址 ") + escapeHtml(ip) + QStringLiteral(" 上的网站</h3>\r\n");
    if (items.isEmpty()) {
        body += QStringLiteral("<p>没有找到该IP上的网站。</p>");
    } else {
        body += QStringLiteral("<ul>\r\n") + items.join(QStringLiteral("\r\n"))
                + QStringLiteral("\r\n</ul>\r\n<p>共找到 ") + QString::number(items.size())
                + QStringLiteral(" 个网站。</p>");
    }
    return utf8Reply(title, body);
}

Reply ServicePages::ipLocation(const QSqlDatabase &db, const QString &address) const
{
    struct Field {
        const char *marker;
        QString label;
    };
    static const Field fields[] = {
        {"country", QStringLiteral("国家")},
        {"region", QStringLiteral("地区")},
        {"city", QStringLiteral("城市")},
        {"latitude", QStringLiteral("纬度")},
        {"longitude", QStringLiteral("经度")},
        {"zipcode", QStringLiteral("邮编")},
        {"timezone", QStringLiteral("时区")},
        {"isp", QStringLiteral("ISP")},
        {"iddcode", QStringLiteral("国家区号")},
    };

    const QString ip = address.trimmed();
    const QString title = QStringLiteral("IP地址查询");
    std::optional<QStringList> values = m_geo ? m_geo->lookUp(ip) : std::nullopt;
    if (!values && !ip.isEmpty()) {
        QSqlQuery &query = keptQuery(db, QStringLiteral("SELECT lcountry, lregion, lcity, llatitude, llongitude, "
                                                        "lzipcode, ltimezone, lisp, liddcode FROM svc_geo WHERE lip = ?"));
        query.addBindValue(ip);
        if (runQuery(query) && query.next()) {
            values = QStringList();
            for (int column = 0; column < 9; ++column)
                *values << query.value(column).toString();
        }
        query.finish();
    }
    if (!values) {
        return utf8Reply(title, QStringLiteral("<p>没有找到IP地址 ") + escapeHtml(ip)
                                    + QStringLiteral(" 的位置信息。</p>"));
    }

    QString rows;
    qsizetype column = 0;
    for (const Field &field : fields) {
        const QString marker = u'|' + QLatin1StringView(field.marker) + u'|';
        rows += QStringLiteral("<tr><td>") + field.label + QStringLiteral("</td><td>") + marker
                + values->at(column++) + marker + QStringLiteral("</td></tr>\r\n");
    }
    return utf8Reply(title, QStringLiteral("<h3>IP地址 ") + escapeHtml(ip)
                                + QStringLiteral(" 的位置</h3>\r\n<table>\r\n") + rows
                                + QStringLiteral("</table>"));
}

} // namespace norvale
