#include "norvale/core/data/fdata.h"

#include "norvale/core/data/DataServiceAddress.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/core/web/GetBody.h"
#include "norvale/core/web/Marker.h"

#include <QMutexLocker>

namespace norvale {

QString fdata::defaultServiceAddress()
{
    return dataServiceAddress(QStringLiteral(NORVALE_DATA_SERVICE_BASE));
}

QString fdata::defaultAdminMail()
{
    return QStringLiteral(NORVALE_ADMIN_MAIL);
}

fdata::fdata(Platform &platform, QString serviceAddress, QString adminMail)
    : m_platform(platform), m_serviceAddress(std::move(serviceAddress)), m_adminMail(std::move(adminMail))
{
}

QString fdata::ldataurl() const
{
    QMutexLocker lock(&m_mutex);
    return m_ldataurl;
}

QString fdata::removeFillers(QString value)
{
    value.remove(QStringLiteral("58_tovrak"));
    value.remove(QStringLiteral("3plenix9"));
    return value;
}

std::optional<QString> fdata::connectionTextFromPage(const QString &page)
{
    const std::optional<QString> value = markerValue(page, QStringLiteral("|data|"));
    if (!value)
        return std::nullopt;
    return removeFillers(*value);
}

bool fdata::getdataurl()
{
    const std::optional<QString> text =
        connectionTextFromPage(GetBody(m_serviceAddress, QStringLiteral("GB2312")));
    if (!text) {
        // Without its database the program cannot do anything.
        m_platform.showMessage(QStringLiteral("Norvale"),
                               QStringLiteral("域名数据库无法访问，请稍后再访问或联系管理员(mail:")
                                   + m_adminMail + u')',
                               nullptr);
        m_platform.exitNow(1);
        return false;
    }
    QMutexLocker lock(&m_mutex);
    m_ldataurl = *text;
    return true;
}

} // namespace norvale
