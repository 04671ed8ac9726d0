#include "services/AnswerCache.h"

#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace norvale {

bool AnswerCache::find(std::string_view target, qint64 serial, Reply *reply) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(target);
    if (found == m_entries.end() || found->second.serial != serial)
        return false;
    *reply = found->second.reply;
    return true;
}

bool AnswerCache::holds(std::string_view target) const
{
    std::lock_guard lock(m_mutex);
    return m_entries.find(target) != m_entries.end();
}

void AnswerCache::put(std::string_view target, qint64 serial, const Reply &reply)
{
    if (reply.body.size() > kMostBody)
        return;
    const qsizetype size = reply.body.size() + qsizetype(target.size());
    std::lock_guard lock(m_mutex);
    // Pages of older numbers are never handed out again; the newest wins.
    const auto found = m_entries.find(target);
    if (found != m_entries.end()) {
        m_bytes += size - (found->second.reply.body.size() + qsizetype(target.size()));
        found->second = {serial, reply};
        return;
    }
    if (m_entries.size() >= kMostEntries || m_bytes + size > kMostBytes) {
        m_entries.clear();
        m_bytes = 0;
    }
    m_entries.emplace(std::string(target), Entry{serial, reply});
    m_bytes += size;
}

SqliteFileCounter::~SqliteFileCounter()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SqliteFileCounter::open(const QString &file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char magic[16];
    if (::pread(fd, magic, sizeof magic, 0) != ssize_t(sizeof magic) || std::memcmp(magic, "SQLite format 3", 16) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

std::optional<uint32_t> SqliteFileCounter::read() const
{
    if (m_fd < 0)
        return std::nullopt;
    // Bytes 18 and 19 are 2 in WAL mode; the counter is bytes 24 to 27. A
    // file cut short under them reads short: nothing, as for WAL.
    unsigned char bytes[10];
    if (::pread(m_fd, bytes, sizeof bytes, 18) != ssize_t(sizeof bytes))
        return std::nullopt;
    if (bytes[0] != 1 || bytes[1] != 1)
        return std::nullopt;
    return uint32_t(bytes[6]) << 24 | uint32_t(bytes[7]) << 16 | uint32_t(bytes[8]) << 8 | uint32_t(bytes[9]);
}

} // namespace norvale
