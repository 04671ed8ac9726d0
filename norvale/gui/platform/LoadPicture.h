#pragma once

#include <QImage>
#include <QString>

namespace norvale {

// A picture from a local file path or an http(s) address (fetched with the
// program's page limits). A null image when nothing could be loaded: empty
// path, missing file, unreachable address, an error status, or data that is
// not a picture.
QImage LoadPicture(const QString &strFileName);

} // namespace norvale
