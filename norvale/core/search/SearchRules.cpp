#include "norvale/core/search/SearchRules.h"

#include "norvale/core/web/Marker.h"

#include <QRandomGenerator>
#include <QUrl>

namespace norvale {

const std::array<QString, kindCount> &extensionKinds()
{
    static const std::array<QString, kindCount> kinds{
        QStringLiteral(".com"), QStringLiteral(".net"), QStringLiteral(".org"),
        QStringLiteral(".info"), QStringLiteral(".name"), QStringLiteral(".biz"),
        QStringLiteral(".us"), QStringLiteral(".uk"), QStringLiteral(".eu"),
        QStringLiteral(".de"), QStringLiteral(".es"), QStringLiteral(".in"),
        QStringLiteral(".co"), QStringLiteral(".asia"), QStringLiteral(".tk"),
        QStringLiteral(".cn"), QStringLiteral(".other")};
    return kinds;
}

QString cleanKeyword(const QString &text)
{
    QString keyword = text;
    keyword.remove(u' ');
    keyword.remove(u'\u3000');
    const qsizetype dot = keyword.indexOf(u'.');
    if (dot >= 0)
        keyword.truncate(dot);
    return keyword;
}

bool isHostName(const QString &domain)
{
    // toAce refuses much of what cannot be a name (blanks, quotes, a label
    // too long) and gives the ASCII form of the rest.
    const QByteArray ace = QUrl::toAce(domain);
    if (ace.isEmpty() || ace.size() > 253)
        return false;
    for (const QByteArrayView label : ace.split('.')) {
        if (label.isEmpty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (const char c : label) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
                                 || (c >= '0' && c <= '9') || c == '-';
            if (!allowed)
                return false;
        }
    }
    return true;
}

int progressPercent(int done, int total)
{
    if (total <= 0)
        return 0;
    const qint64 scaled = qint64(done) * 100;
    qint64 whole = scaled / total;
    const qint64 twiceRest = (scaled % total) * 2;
    if (twiceRest > total || (twiceRest == total && (whole & 1)))
        ++whole;
    return int(whole);
}

QString escapeLike(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() * 2);
    for (const QChar c : text) {
        if (c == u'\\' || c == u'%' || c == u'_' || c == u'[')
            escaped += u'\\';
        escaped += c;
    }
    return escaped;
}

QStringList wildcardReferenceNames()
{
    // Nine letters and digits that no registry hands out as a real name.
    const QString label = QStringLiteral("q7zx0kv3w");
    return {label + QStringLiteral(".tk"), label + QStringLiteral(".com"),
            label + QStringLiteral(".cn.com")};
}

QString wildcardKey(const QString &kind, const QString &address)
{
    if (kind != QLatin1StringView(".tk") || address.isEmpty())
        return address;
    qsizetype at = -1;
    for (int dots = 0; dots < 3; ++dots) {
        at = address.indexOf(u'.', at + 1);
        if (at < 0)
            return address;
    }
    return address.left(at + 1);
}

bool addressIsSuspect(const QString &kind, const QString &address, const QString &wildip)
{
    return address.isEmpty() || wildip.contains(wildcardKey(kind, address));
}

bool wantsStatusPage(const QString &domain, const QString &kind, const QString &address,
                     const QString &wildip)
{
    // Names under second-level zones (.com.cn, .co.uk) are asked like any
    // other: left unasked, every one without an address would be offered as
    // free, and the operator's page, which asks the registry, can tell.
    return isHostName(domain) && addressIsSuspect(kind, address, wildip);
}

CheckCells checkdomain(const QString &domain, const QString &kind, const QString &address,
                       const QString &wildip, const PageText &page)
{
    CheckCells cells;
    if (!isHostName(domain)) {
        cells.status = QStringLiteral("无效域名");
        return cells;
    }
    if (!addressIsSuspect(kind, address, wildip)) {
        cells.status = QStringLiteral("已注册");
        cells.address = address;
        return cells;
    }
    if (wantsStatusPage(domain, kind, address, wildip)) {
        // A server that says it failed (5xx) gave no verdict either.
        if (!page.transportOk || page.httpStatus >= 500) {
            cells.status = QStringLiteral("查询失败");
            return cells;
        }
        if (markerValue(page.text, QStringLiteral("|domain|"))) {
            cells.status = QStringLiteral("已注册");
            return cells;
        }
    }
    cells.status = QStringLiteral("未注册");
    cells.statusRed = true;
    cells.showsPrice = true;
    return cells;
}

bool isReservedAnswer(const QString &address)
{
    return address.startsWith(QLatin1StringView("0.")) || address.startsWith(QLatin1StringView("127."));
}

QString candidateZone(const QString &domain)
{
    const qsizetype dot = domain.indexOf(u'.');
    return dot < 0 ? QString() : domain.mid(dot);
}

QString randomProbeLabel()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz";
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QRandomGenerator &random = *QRandomGenerator::global();
    QString label(16, u'a');
    label[0] = QLatin1Char(letters[random.bounded(26)]);
    for (qsizetype i = 1; i < label.size(); ++i)
        label[i] = QLatin1Char(alphabet[random.bounded(36)]);
    return label;
}

QString judgedAddress(const QString &domain, const QString &kind, const QString &address,
                      const QString &wildip,
                      const std::function<QString(const QString &zone)> &zoneWildcard)
{
    if (isReservedAnswer(address))
        return {};
    if (!isHostName(domain) || addressIsSuspect(kind, address, wildip))
        return address;
    const QString zone = candidateZone(domain);
    if (!zone.isEmpty() && address == zoneWildcard(zone))
        return {};
    return address;
}

bool filingIsRed(const QString &value)
{
    return value.size() > 1;
}

QStringList relatedRowsParameters(const QString &keyword, const QString &kind)
{
    const QString percent = QStringLiteral("%");
    return {percent + escapeLike(keyword) + percent, keyword, percent + escapeLike(kind)};
}

} // namespace norvale
