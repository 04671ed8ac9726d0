#include "services/AnswerCache.h"

#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

namespace {
constexpr size_t kHeader = 100;
}

SqliteFileCounter::~SqliteFileCounter()
{
    if (m_header)
        ::munmap(const_cast<unsigned char *>(m_header), kHeader);
}

bool SqliteFileCounter::open(const QString &file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || info.st_size < off_t(kHeader)) {
        ::close(fd);
        return false;
    }
    void *mapped = ::mmap(nullptr, kHeader, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED)
        return false;
    m_header = static_cast<const unsigned char *>(mapped);
    if (std::memcmp(m_header, "SQLite format 3", 16) != 0) {
        ::munmap(mapped, kHeader);
        m_header = nullptr;
        return false;
    }
    return true;
}

std::optional<uint32_t> SqliteFileCounter::read() const
{
    if (!m_header)
        return std::nullopt;
    // Another process writes the page: read each byte once, as it is now.
    // Bytes 18 and 19 are 2 in WAL mode; the counter is bytes 24 to 27.
    const auto byte = [this](size_t at) { return __atomic_load_n(m_header + at, __ATOMIC_ACQUIRE); };
    if (byte(18) != 1 || byte(19) != 1)
        return std::nullopt;
    return uint32_t(byte(24)) << 24 | uint32_t(byte(25)) << 16 | uint32_t(byte(26)) << 8 | uint32_t(byte(27));
}

} // namespace norvale
