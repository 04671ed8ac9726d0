#include "norvale/core/net/HostsFile.h"

#include "norvale/core/net/FileStamp.h"

#include <QFile>

#include <arpa/inet.h>

#include <mutex>

namespace norvale {

namespace {

constexpr const char *hostsPath = "/etc/hosts";

} // namespace

HostsFile HostsFile::parsed(const QByteArray &text)
{
    HostsFile table;
    for (QByteArray line : text.split('\n')) {
        if (const qsizetype hash = line.indexOf('#'); hash >= 0)
            line.truncate(hash);
        const QList<QByteArray> fields = line.simplified().split(' ');
        in_addr address{};
        // Only the full dotted form counts, as the resolver library reads it.
        if (fields.size() < 2 || ::inet_pton(AF_INET, fields[0].constData(), &address) != 1)
            continue;
        const QString dotted = QString::fromLatin1(fields[0]);
        for (qsizetype i = 1; i < fields.size(); ++i) {
            const QByteArray name = fields[i].toLower();
            if (!table.m_first.contains(name))  // the first line listing a name wins
                table.m_first.insert(name, dotted);
        }
    }
    return table;
}

QString HostsFile::firstIPv4(const QByteArray &name) const
{
    return m_first.value(name.toLower());
}

std::shared_ptr<const HostsFile> HostsFile::current()
{
    static std::mutex mutex;
    static FileStamp readStamp;
    static std::shared_ptr<const HostsFile> table;

    const FileStamp now = FileStamp::of(hostsPath);
    const std::lock_guard lock(mutex);
    if (!table || !(now == readStamp)) {
        QFile file(QString::fromLatin1(hostsPath));
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        table = std::make_shared<const HostsFile>(parsed(text));
        readStamp = now;
    }
    return table;
}

} // namespace norvale
