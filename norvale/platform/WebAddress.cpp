#include "norvale/platform/WebAddress.h"

#include "norvale/platform/Platform.h"

#include <QDebug>
#include <QUrl>

namespace norvale {

bool isWebOrMailAddress(const QString &address)
{
    const QString text = address.trimmed();
    // Control characters would let a crafted address hide what it opens.
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto"))
        return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}

bool openWebAddress(Platform &platform, const QString &address)
{
    if (!isWebOrMailAddress(address)) {
        qWarning().noquote() << "Refused to open an address that is not a web or mail address:"
                             << address.left(200);
        return false;
    }
    platform.openUrl(address.trimmed());
    return true;
}

} // namespace norvale
