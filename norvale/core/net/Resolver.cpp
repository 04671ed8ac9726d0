#include "norvale/core/net/Resolver.h"

#include "norvale/core/net/FileStamp.h"
#include "norvale/core/net/HostsFile.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>

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
    FileStamp resolvConf = FileStamp::of("/etc/resolv.conf");
    FileStamp nsswitch = FileStamp::of("/etc/nsswitch.conf");
    bool operator==(const ConfigStamp &) const = default;
};

// How often a thread looks again at the files that configure name
// resolution: a change is seen within this time.
constexpr std::chrono::milliseconds configCheck{1000};
// Lookups a thread's channel serves before it is made anew. The channel keeps
// its socket between lookups, which spares a socket per name in a search of
// a million; renewing it moves the queries to a fresh port now and then.
constexpr int lookupsPerChannel = 100;

// A channel made from the system's configuration with our time-out and
// tries (they win over the configuration's own), and whether the hosts file
// comes before the name servers. When it does, the channel is told to ask
// the name servers only and the lookup asks the kept table of the file
// itself, so the file is not read again for every name.
struct Made {
    Channel channel;
    bool hostsFirst = false;
};

Made makeChannel(const ResolverLimits &limits)
{
    ares_options options{};
    options.timeout = int(limits.firstTry.count());
    options.tries = std::max(1, limits.tries);
    options.flags = ARES_FLAG_STAYOPEN;
    int mask = ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS;
    ares_channel made = nullptr;
    if (ares_init_options(&made, &options, mask) != ARES_SUCCESS)
        return {};
    Channel channel(made);

    ares_options saved{};
    int savedMask = 0;
    if (ares_save_options(channel.get(), &saved, &savedMask) != ARES_SUCCESS)
        return {std::move(channel), false};
    const bool hostsFirst = saved.lookups && std::string_view(saved.lookups) == "fb";
    ares_destroy_options(&saved);
    if (!hostsFirst)
        return {std::move(channel), false};

    char nameServersOnly[] = "b";
    options.lookups = nameServersOnly;
    made = nullptr;
    if (ares_init_options(&made, &options, mask | ARES_OPT_LOOKUPS) != ARES_SUCCESS)
        return {std::move(channel), false};
    return {Channel(made), true};
}

struct Resolving {
    ares_channel channel = nullptr;
    const HostsFile *hosts = nullptr;  // asked first when set
};

// The calling thread's channel. Reading the configuration costs more than the
// lookup itself, so each thread keeps a channel made from it as a template,
// reads the files again only once they changed, and copies the template for
// the channel its lookups use.
Resolving channelFor(const ResolverLimits &limits)
{
    using Clock = std::chrono::steady_clock;
    struct Kept {
        Made made;
        Channel inUse;  // a copy of made, with its socket kept open
        int lookups = 0;
        std::shared_ptr<const HostsFile> hosts;
        ConfigStamp stamp;
        Clock::time_point checked;
        ResolverLimits limits;
    };
    thread_local Kept kept;

    const Clock::time_point now = Clock::now();
    const bool sameLimits = kept.limits.firstTry == limits.firstTry && kept.limits.tries == limits.tries;
    if (!kept.made.channel || !sameLimits || now - kept.checked >= configCheck) {
        const ConfigStamp stamp;
        kept.checked = now;
        if (!kept.made.channel || !sameLimits || !(kept.stamp == stamp)) {
            kept.inUse.reset();
            kept.made = makeChannel(limits);
            if (!kept.made.channel)
                return {};
            kept.stamp = stamp;
            kept.limits = limits;
        }
        kept.hosts = kept.made.hostsFirst ? HostsFile::current() : nullptr;
    }
    if (!kept.inUse || kept.lookups >= lookupsPerChannel) {
        kept.inUse.reset();
        kept.lookups = 0;
        ares_channel copy = nullptr;
        if (ares_dup(&copy, kept.made.channel.get()) != ARES_SUCCESS)
            return {};
        kept.inUse.reset(copy);
    }
    ++kept.lookups;
    return {kept.inUse.get(), kept.hosts.get()};
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

    const Resolving resolving = channelFor(limits);
    const ares_channel channel = resolving.channel;
    if (!channel)
        return {};
    if (resolving.hosts) {
        if (QString listed = resolving.hosts->firstIPv4(name); !listed.isEmpty())
            return listed;
    }

    Lookup lookup;
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_INET;
    // The answer's own order: no sorting by reachability from here.
    hints.ai_flags = ARES_AI_NOSORT;
    ares_getaddrinfo(channel, name.constData(), nullptr, &hints, &onAnswer, &lookup);

    // A lookup given up is cancelled, so the kept channel's next lookup
    // starts with nothing of it left and its answer never reaches lookup.
    const Clock::time_point end = Clock::now() + limits.deadline;
    while (!lookup.done) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if ((stop && stop->load()) || left.count() <= 0) {
            ares_cancel(channel);
            return {};
        }
        step(channel, std::min(left, stopCheck));
    }
    return lookup.address;
}

} // namespace norvale
