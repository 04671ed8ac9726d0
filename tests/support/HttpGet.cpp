#include "tests/support/HttpGet.h"

#include <QUrl>

namespace norvale::test {

httplib::Result httpGet(const QString &address)
{
    const QUrl url(address);
    httplib::Client client(url.host().toStdString(), url.port(80));
    client.set_read_timeout(60, 0);
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    return client.Get(target.toStdString());
}

QString between(const QString &page, const QString &marker)
{
    const qsizetype first = page.indexOf(marker);
    if (first < 0)
        return {};
    const qsizetype start = first + marker.size();
    const qsizetype next = page.indexOf(marker, start);
    return page.mid(start, next < 0 ? -1 : next - start);
}

} // namespace norvale::test
