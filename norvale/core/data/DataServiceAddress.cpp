#include "norvale/core/data/DataServiceAddress.h"

#include <QUrl>

namespace norvale {

DataServiceBase effectiveDataServiceBase(const QString &fromCommandLine)
{
    QString value = fromCommandLine.trimmed();
    QString source = QStringLiteral("--") + QLatin1StringView(dataServiceOption);
    if (value.isEmpty()) {
        value = qEnvironmentVariable(dataServiceVariable).trimmed();
        source = QLatin1StringView(dataServiceVariable);
    }
    if (value.isEmpty()) {
        value = QStringLiteral(NORVALE_DATA_SERVICE_BASE);
        source = QStringLiteral("NORVALE_DATA_SERVICE_BASE");
    }
    while (value.endsWith(u'/'))
        value.chop(1);

    DataServiceBase result;
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment()
        || (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))) {
        result.error = source + QStringLiteral(": \"") + value
                       + QStringLiteral("\" is not an http or https address such as http://127.0.0.1:8858");
        return result;
    }
    result.base = value;
    return result;
}

QString dataServiceAddress(const QString &base)
{
    return base + QStringLiteral("/geturl/dataurl.asp?checkin=qomp58x");
}

} // namespace norvale
