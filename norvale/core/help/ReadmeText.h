#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace norvale {

// The viewer's text when the program's folder holds no readme.
QString readmeMissingText();

// A readme's bytes as text: UTF-8 when they are valid UTF-8 (a leading
// byte-order mark is dropped), otherwise GB18030, the superset of the code
// page Chinese Windows saves text in.
QString decodeReadme(const QByteArray &bytes);

// The text line by line, each line followed by CR LF. A line ends at CR, at
// CR LF or at LF, and the break is not part of it; so a last line without a
// break gains one, and an empty text stays empty.
QString joinReadmeLines(QStringView text);

// What the readme viewer shows for a program folder: its "readme.txt",
// decoded and joined as above, or readmeMissingText() when the folder holds
// no ordinary file of exactly that name (letter case counts). A very large
// file is shown up to its first few megabytes.
QString readmeViewerText(const QString &programFolder);

} // namespace norvale
