#include "norvale/core/net/DownloadRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace norvale {

namespace {

// Longest file name the file systems we write to accept, in bytes.
constexpr qsizetype kNameMaxBytes = 255;

// numerator / denominator for non-negative values, halves to even.
qint64 roundedQuotient(qint64 numerator, qint64 denominator)
{
    const qint64 quotient = numerator / denominator;
    const qint64 twiceRest = (numerator % denominator) * 2;
    if (twiceRest > denominator || (twiceRest == denominator && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}

// The files the program folder holds, under the names an upgrade must never
// take, whether the folder holds them now or not.
const QStringList kProgramFiles = {
    QStringLiteral("norvale"), QStringLiteral("norvale-cli"), QStringLiteral("norvale-services"),
    QStringLiteral("kestrup"), QStringLiteral("readme.txt"), QStringLiteral("set.ini"),
    QStringLiteral("setup"),
};

QString ledgerPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/norvale/downloads");
}

} // namespace

QString installerTarget(const QString &folder, const QString &name, const QStringList &earlierDownloads)
{
    // Qt reads a path that begins with ":" as one of its resources.
    if (name.isEmpty() || name.startsWith(u'.') || name.startsWith(u':') || name.contains(u'/')
        || kProgramFiles.contains(name, Qt::CaseInsensitive))
        return {};
    const QFileInfo target(QDir(folder).absoluteFilePath(name));
    // A dangling link counts as existing: writing through it lands elsewhere.
    if ((target.exists() || target.isSymLink())
        && (!target.isFile() || target.isSymLink() || !earlierDownloads.contains(target.absoluteFilePath())))
        return {};
    return target.absoluteFilePath();
}

QStringList earlierDownloads()
{
    QFile ledger(ledgerPath());
    if (!ledger.open(QIODevice::ReadOnly))
        return {};
    // A handful of paths; anything larger is not ours.
    return QString::fromUtf8(ledger.read(1 << 20)).split(u'\n', Qt::SkipEmptyParts);
}

void rememberDownload(const QString &path)
{
    QStringList paths = earlierDownloads();
    if (paths.contains(path))
        return;
    paths.append(path);
    // The newest hundred are enough to find the installer again.
    paths = paths.mid(qMax<qsizetype>(0, paths.size() - 100));
    QDir().mkpath(QFileInfo(ledgerPath()).absolutePath());
    QSaveFile ledger(ledgerPath());
    if (ledger.open(QIODevice::WriteOnly)) {
        ledger.write(paths.join(u'\n').toUtf8() + '\n');
        ledger.commit();
    }
}

QString downloadStatusText(int status)
{
    switch (status) {
    case downloadstatus::Connecting: return QStringLiteral("连接服务器...");
    case downloadstatus::Requesting: return QStringLiteral("发送请求...");
    case downloadstatus::Answered: return QStringLiteral("获取远程文件信息...");
    case downloadstatus::Receiving: return QStringLiteral("正在下载数据...");
    case downloadstatus::Stopped: return QStringLiteral("停止下载");
    case downloadstatus::Done: return QStringLiteral("下载完成");
    case downloadstatus::ClientFailed: return QStringLiteral("连接服务器失败");
    case downloadstatus::RequestFailed: return QStringLiteral("发送请求失败");
    case downloadstatus::ServerEnded: return QStringLiteral("连接服务器");
    default: return QStringLiteral("下载被中止");
    }
}

QString installerFileName(QStringView address)
{
    const QStringView name = address.sliced(address.lastIndexOf(u'/') + 1);
    if (name.isEmpty() || name == u"." || name == u"..")
        return {};
    for (const QChar c : name) {
        // Format characters include the direction overrides that can make
        // "setup\u202Etxt.exe" look like a text file.
        const QChar::Category category = c.category();
        if (c == u'\\' || category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Other_Surrogate)
            return {};
    }
    const QString text = name.toString();
    if (QFile::encodeName(text).size() > kNameMaxBytes)
        return {};
    return text;
}

QString installerFolder(const QString &programFolder)
{
    const QFileInfo program(programFolder);
    if (!programFolder.isEmpty() && program.isDir() && program.isWritable())
        return program.absoluteFilePath();
    // An installed program's folder belongs to the system.
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty() || !QDir().mkpath(downloads))
        downloads = QDir::homePath();
    return downloads;
}

qint64 averageSpeed(qint64 bytes, qint64 elapsedMs)
{
    const qint64 seconds = elapsedMs / 1000;
    if (seconds <= 0)
        return 1025;
    return roundedQuotient(qMax<qint64>(0, bytes), seconds);
}

QString generalNumber(double value)
{
    return QString::number(value, 'g', 15);
}

QString downloadProgressText(qint64 downloaded, qint64 fileSize, qint64 speed)
{
    if (speed == 0)
        speed = 10;
    // Scaled by 100 before dividing; exact up to sizes no disk holds.
    const qint64 percent = fileSize > 0 && downloaded >= 0 && downloaded <= INT64_MAX / 100
                               ? roundedQuotient(downloaded * 100, fileSize)
                               : 0;
    const QLatin1StringView crlf("\r\n");
    return QStringLiteral("下载进度： ") + QString::number(double(percent), 'f', 1)
           + QStringLiteral(" %") + crlf + crlf
           + QStringLiteral("文件大小： ") + generalNumber(double(fileSize) / 1024) + crlf + crlf
           + QStringLiteral("当前下载： ") + generalNumber(double(downloaded) / 1024) + crlf + crlf
           + QStringLiteral("下载速度： ") + generalNumber(double(speed) / 1024);
}

} // namespace norvale
