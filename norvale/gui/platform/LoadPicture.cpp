#include "norvale/gui/platform/LoadPicture.h"

#include "norvale/core/web/GetBody.h"

#include <QUrl>

namespace norvale {

namespace {

bool isWebAddress(const QString &name)
{
    return name.startsWith(QLatin1StringView("http://"), Qt::CaseInsensitive)
        || name.startsWith(QLatin1StringView("https://"), Qt::CaseInsensitive);
}

} // namespace

QImage LoadPicture(const QString &strFileName)
{
    if (strFileName.isEmpty())
        return {};

    if (isWebAddress(strFileName)) {
        const PageFetch page = fetchPage(strFileName);
        // An error page is never the picture, even if it happens to be one.
        if (!page.transportOk || page.httpStatus < 200 || page.httpStatus >= 300)
            return {};
        return QImage::fromData(page.body);
    }

    QString path = strFileName;
    if (strFileName.startsWith(QLatin1StringView("file:"), Qt::CaseInsensitive)) {
        const QUrl url(strFileName);
        if (!url.isLocalFile())
            return {};
        path = url.toLocalFile();
    }
    return QImage(path);
}

} // namespace norvale
