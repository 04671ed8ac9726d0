#pragma once

#include <QByteArray>
#include <QString>

namespace norvale {

// Text for HTML, with "|" escaped too so that an echoed request can never
// carry a marker that the page does not mean.
QString escapeHtml(const QString &text);

// A small complete HTML page around body.
QString htmlPage(const QString &title, const QString &body, const QString &charset);

QByteArray encodeGb2312(const QString &text);
// Whether GB2312 holds every character of text, so that a page can carry it.
bool fitsGb2312(const QString &text);

// The two filler tokens of the data-address answer.
QString fillerOne();   // 58_tovrak
QString fillerTwo();   // 3plenix9

// Mixes both filler tokens into text at fixed places, including one where
// removing the first token joins the second ("3ple" + first token + "nix9").
// Removing every first token and then every second gives text back.
QString scatterFillers(const QString &text);

// A deterministic installer body of size bytes: an executable-looking header,
// then a pseudo-random stream.
QByteArray installerBytes(qsizetype size);

// count bytes from offset of an endless body: the first 65521 installer
// bytes over and over (a prime period, so no chunk size lines up with it).
void generatedBytes(qint64 offset, char *out, qsizetype count);

} // namespace norvale
