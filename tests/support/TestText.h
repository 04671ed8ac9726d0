#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// Header only: Kestrup's tests use it without linking the Norvale side.
namespace norvale::test {

// Text written in the source as UTF-8.
inline QString s(const char *utf8) { return QString::fromUtf8(utf8); }

// The words of a text written in the source as UTF-8, split at blanks: an
// argument list, say.
inline QStringList words(const char *spaced)
{
    return QString::fromUtf8(spaced).split(u' ', Qt::SkipEmptyParts);
}

// A file's bytes; "<missing>" when it cannot be read, so that no file reads
// as an empty one.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Makes path a file holding bytes, whatever was there; false when it could not.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace norvale::test
