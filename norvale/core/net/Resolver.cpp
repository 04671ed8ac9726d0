#include "norvale/core/net/Resolver.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace norvale {

namespace {

// How often a waiting lookup looks at its stop flag.
constexpr std::chrono::milliseconds stopCheck{50};

bool aresReady()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS; });
    return ok;
}

struct Lookup {
    bool done = false;
    QString address;
};

void onAnswer(void *arg, int status, int, ares_addrinfo *result)
{
    auto *lookup = static_cast<Lookup *>(arg);
    lookup->done = true;
    if (status == ARES_SUCCESS && result) {
        for (const ares_addrinfo_node *node = result->nodes; node; node = node->ai_next) {
            if (node->ai_family != AF_INET || !node->ai_addr)
                continue;
            const auto *in = reinterpret_cast<const sockaddr_in *>(node->ai_addr);
            char text[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
                lookup->address = QString::fromLatin1(text);
            break;
        }
    }
    if (result)
        ares_freeaddrinfo(result);
}

struct ChannelDeleter {
    void operator()(ares_channeldata *channel) const { ares_destroy(channel); }
};
using Channel = std::unique_ptr<ares_channeldata, ChannelDeleter>;

// What the files that configure name resolution looked like when they were
// read: a change of any of them makes the next lookup read them again.
struct ConfigStamp {
    struct File {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
    };
    File files[2];

    static ConfigStamp now()
    {
        ConfigStamp stamp;
        const char *const paths[] = {"/etc/resolv.conf", "/etc/nsswitch.conf"};
        for (int i = 0; i < 2; ++i) {
            struct stat info {};
            if (::stat(paths[i], &info) == 0)
                stamp.files[i] = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
        }
        return stamp;
    }
    bool operator==(const ConfigStamp &other) const
    {
        for (int i = 0; i < 2; ++i) {
            const File &a = files[i];
            const File &b = other.files[i];
            if (a.device != b.device || a.inode != b.inode || a.size != b.size
                || a.modified.tv_sec != b.modified.tv_sec || a.modified.tv_nsec != b.modified.tv_nsec)
                return false;
        }
        return true;
    }
};

// A channel for one lookup. Reading the configuration costs more than the
// lookup itself, so each thread keeps a channel made from it as a template
// and copies it per lookup, reading the files again only once they changed.
// The copy opens sockets of its own, so every lookup leaves from a fresh
// port and the lookup keeps nothing open afterwards.
Channel channelFor(const ResolverLimits &limits)
{
    struct Template {
        Channel channel;
        ConfigStamp stamp;
        ResolverLimits limits;
    };
    thread_local Template kept;

    const ConfigStamp stamp = ConfigStamp::now();
    if (!kept.channel || !(kept.stamp == stamp) || kept.limits.firstTry != limits.firstTry
        || kept.limits.tries != limits.tries) {
        kept.channel.reset();
        // The explicit options win over the configuration's own time-out
        // and attempts.
        ares_options options{};
        options.timeout = int(limits.firstTry.count());
        options.tries = std::max(1, limits.tries);
        ares_channel made = nullptr;
        if (ares_init_options(&made, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES) != ARES_SUCCESS)
            return {};
        kept = {Channel(made), stamp, limits};
    }
    ares_channel copy = nullptr;
    if (ares_dup(&copy, kept.channel.get()) != ARES_SUCCESS)
        return {};
    return Channel(copy);
}

// One wait for the channel's sockets, at most until its next time-out and
// never longer than limit; then lets the channel read, send and time out.
void step(ares_channel channel, std::chrono::milliseconds limit)
{
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    pollfd fds[ARES_GETSOCK_MAXNUM];
    nfds_t count = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        const bool read = ARES_GETSOCK_READABLE(bits, i);
        const bool write = ARES_GETSOCK_WRITABLE(bits, i);
        if (!read && !write)
            continue;
        fds[count++] = {sockets[i], short((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0};
    }

    timeval most{};
    most.tv_sec = limit.count() / 1000;
    most.tv_usec = (limit.count() % 1000) * 1000;
    timeval next{};
    const timeval *wait = ares_timeout(channel, &most, &next);
    const int waitMs = int(wait->tv_sec * 1000 + (wait->tv_usec + 999) / 1000);

    const int ready = ::poll(fds, count, waitMs);
    if (ready <= 0) {
        ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
        return;
    }
    for (nfds_t i = 0; i < count; ++i) {
        const bool readable = fds[i].revents & (POLLIN | POLLERR | POLLHUP);
        const bool writable = fds[i].revents & POLLOUT;
        ares_process_fd(channel, readable ? fds[i].fd : ARES_SOCKET_BAD,
                        writable ? fds[i].fd : ARES_SOCKET_BAD);
    }
}

} // namespace

QString resolveFirstIPv4(const QByteArray &name, const StopFlag *stop, const ResolverLimits &limits)
{
    using Clock = std::chrono::steady_clock;
    if (name.isEmpty() || name.contains('\0') || (stop && stop->load()) || !aresReady())
        return {};

    // An address is its own answer, in the forms the C library reads too
    // (1.2.3 is 1.2.0.3, as inet_aton has it).
    if (in_addr literal{}; ::inet_aton(name.constData(), &literal) != 0) {
        char text[INET_ADDRSTRLEN] = {};
        return ::inet_ntop(AF_INET, &literal, text, sizeof text) ? QString::fromLatin1(text) : QString();
    }

    // Declared before the channel: destroying the channel answers every
    // lookup still open, so the lookup must outlive it.
    Lookup lookup;
    const Channel channel = channelFor(limits);
    if (!channel)
        return {};

    ares_addrinfo_hints hints{};
    hints.ai_family = AF_INET;
    // The answer's own order: no sorting by reachability from here.
    hints.ai_flags = ARES_AI_NOSORT;
    ares_getaddrinfo(channel.get(), name.constData(), nullptr, &hints, &onAnswer, &lookup);

    const Clock::time_point end = Clock::now() + limits.deadline;
    while (!lookup.done) {
        if (stop && stop->load())
            return {};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            return {};
        step(channel.get(), std::min(left, stopCheck));
    }
    return lookup.address;
}

} // namespace norvale
