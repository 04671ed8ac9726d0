#pragma once

#include "services/ServicePages.h"

#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace norvale {

// Pages already made, by the request target they answer and the database's
// change number they were made at. A page is handed out again only while the
// number stands still. Bounded in pages and bytes: when full it starts over.
class AnswerCache final {
public:
    static constexpr size_t kMostEntries = 8192;
    static constexpr qsizetype kMostBody = 64 * 1024;
    static constexpr qsizetype kMostBytes = 32 * 1024 * 1024;

    bool find(std::string_view target, qint64 serial, Reply *reply) const;
    // Whether a page for target is held, made at whatever number.
    bool holds(std::string_view target) const;
    void put(std::string_view target, qint64 serial, const Reply &reply);

private:
    struct Entry {
        qint64 serial;
        Reply reply;
    };
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry, Hash, std::equal_to<>> m_entries;
    qsizetype m_bytes = 0;
};

// The change counter in a SQLite file's header, which every committed write
// raises in the rollback journal's mode, read with one pread and no lock. Not
// a mapping: a file cut short under the header would raise SIGBUS on it. A
// WAL database does not keep the counter up to date, so there it reads as
// nothing.
class SqliteFileCounter final {
public:
    SqliteFileCounter() = default;
    ~SqliteFileCounter();
    SqliteFileCounter(const SqliteFileCounter &) = delete;
    SqliteFileCounter &operator=(const SqliteFileCounter &) = delete;

    bool open(const QString &file);
    std::optional<uint32_t> read() const;

private:
    int m_fd = -1;
};

} // namespace norvale
