#include "norvale/core/platform/WebAddress.h"

#include "norvale/core/platform/Platform.h"

#include <QDebug>
#include <QUrl>
#include <QUrlQuery>

namespace norvale {

namespace {

// A mail program takes more from a mailto address than a message's text:
// "attach" and its kin add local files to the mail. Only a subject, a body
// and copies may come along.
bool onlyPlainMailFields(const QUrl &url)
{
    const QUrlQuery query(url);
    const auto items = query.queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items) {
        const QString field = name.trimmed().toLower();
        if (field != QLatin1String("subject") && field != QLatin1String("body") && field != QLatin1String("cc"))
            return false;
    }
    return true;
}

} // namespace

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
        return !url.path().isEmpty() && onlyPlainMailFields(url);
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}

bool openWebAddress(Platform &platform, const QString &address, QObject *over)
{
    if (!isWebOrMailAddress(address)) {
        qWarning().noquote() << "Refused to open an address that is not a web or mail address:"
                             << address.left(200);
        // The address itself may be anything; the user only learns that
        // nothing was opened and why.
        platform.showMessage(QStringLiteral("Norvale"), QString::fromUtf16(webaddresstext::refused), over);
        return false;
    }
    platform.openUrl(address.trimmed());
    return true;
}

} // namespace norvale
