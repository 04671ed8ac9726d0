#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace norvale {

// Phases of an installer download, as the about window's panel names them.
namespace downloadstatus {
inline constexpr int Connecting = 1;      // the call begins
inline constexpr int Requesting = 2;      // the HTTP client is ready
inline constexpr int Answered = 3;        // the server has answered the request
inline constexpr int Receiving = 4;       // the local file is open, the body arrives
inline constexpr int Stopped = 5;         // cancelled by DLFileStop
inline constexpr int Done = 6;            // the file is complete and in place
inline constexpr int ClientFailed = 7;    // no HTTP client could be made
inline constexpr int RequestFailed = 8;   // no answer, or an error answer (HTTP status outside 2xx)
inline constexpr int ServerEnded = 9;     // the server sent the whole body
inline constexpr int Broken = 10;         // the body broke off, stalled or could not be saved
} // namespace downloadstatus

// The panel's text for a status code; codes it does not know read "下载被中止".
QString downloadStatusText(int status);

// The local file name for an installer address: the text after its last "/"
// (the whole address when there is none). A query string stays part of the
// name. Empty when the name would be unsafe to write: empty, "." or "..",
// holding "\" or a control character, or longer than a file name may be.
QString installerFileName(QStringView address);

// Where the installer named `name` may be written in `folder`: the path, or
// empty when the name is one of the program's own files (whether or not it
// is there), a hidden name, a name Qt would read as a resource (":…"), or
// an existing entry that no earlier download wrote (`earlierDownloads`,
// absolute paths). The installer's address comes from the network, and must
// not overwrite the program or a user's file.
QString installerTarget(const QString &folder, const QString &name, const QStringList &earlierDownloads);

// The installers that downloads wrote, as recorded in the user's settings
// folder, and the recording of one more.
QStringList earlierDownloads();
void rememberDownload(const QString &path);

// Where the installer goes: the program's folder when it can be written,
// otherwise the user's download folder (the home folder when there is none).
QString installerFolder(const QString &programFolder);

// The average rate in bytes per second over the whole seconds elapsed,
// rounded to a whole number (halves to even). During the first second it
// reads 1025.
qint64 averageSpeed(qint64 bytes, qint64 elapsedMs);

// A number the way the panel writes it: up to 15 significant digits, no
// trailing zeros, no thousands separator (1.5, 2, 0.9765625).
QString generalNumber(double value);

// The panel's seven-line progress text, lines joined by CR LF: percentage
// with one decimal (0 when the size is unknown), then size, downloaded bytes
// and speed in KB. A speed of 0 reads as 10 bytes per second.
QString downloadProgressText(qint64 downloaded, qint64 fileSize, qint64 speed);

} // namespace norvale
