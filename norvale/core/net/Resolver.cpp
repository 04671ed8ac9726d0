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
    bool handed = false;  // to the caller
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
// the channel its lookups use. A lookup started while the thread's channel
// still has lookups of its own in flight (from a caller's answer) gets a
// channel of its own in spare, so that neither waits for, renews or cancels
// the other's.
class ThreadChannel final {
public:
    ThreadChannel(const ResolverLimits &limits, qsizetype names)
    {
        Kept &kept = keptHere();
        if (kept.busy) {
            Made made = makeChannel(limits);
            m_spare = std::move(made.channel);
            if (made.hostsFirst)
                m_hosts = HostsFile::current();
            m_resolving = {m_spare.get(), m_hosts.get()};
            return;
        }
        m_resolving = kept.channelFor(limits, names);
        if (m_resolving.channel) {
            m_kept = &kept;
            m_kept->busy = true;
        }
    }
    ~ThreadChannel()
    {
        if (m_kept)
            m_kept->busy = false;
    }
    Q_DISABLE_COPY_MOVE(ThreadChannel)

    const Resolving &resolving() const { return m_resolving; }

private:
    using Clock = std::chrono::steady_clock;
    struct Kept {
        Made made;
        Channel inUse;  // a copy of made, with its socket kept open
        int lookups = 0;
        bool busy = false;
        std::shared_ptr<const HostsFile> hosts;
        ConfigStamp stamp;
        Clock::time_point checked;
        ResolverLimits limits;

        Resolving channelFor(const ResolverLimits &wanted, qsizetype names)
        {
            const Clock::time_point now = Clock::now();
            const bool sameLimits = limits.firstTry == wanted.firstTry && limits.tries == wanted.tries;
            if (!made.channel || !sameLimits || now - checked >= configCheck) {
                const ConfigStamp current;
                checked = now;
                if (!made.channel || !sameLimits || !(stamp == current)) {
                    inUse.reset();
                    made = makeChannel(wanted);
                    if (!made.channel)
                        return {};
                    stamp = current;
                    limits = wanted;
                }
                hosts = made.hostsFirst ? HostsFile::current() : nullptr;
            }
            if (!inUse || lookups >= lookupsPerChannel) {
                inUse.reset();
                lookups = 0;
                ares_channel copy = nullptr;
                if (ares_dup(&copy, made.channel.get()) != ARES_SUCCESS)
                    return {};
                inUse.reset(copy);
            }
            lookups += int(std::min<qsizetype>(names, lookupsPerChannel));
            return {inUse.get(), hosts.get()};
        }
    };

    static Kept &keptHere()
    {
        thread_local Kept kept;
        return kept;
    }

    Resolving m_resolving;
    Kept *m_kept = nullptr;
    Channel m_spare;
    std::shared_ptr<const HostsFile> m_hosts;
};

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

void resolveFirstIPv4s(const QList<QByteArray> &names, const StopFlag *stop, const ResolverLimits &limits,
                       const std::function<void(qsizetype, const QString &)> &answered)
{
    using Clock = std::chrono::steady_clock;
    if ((stop && stop->load()) || !aresReady())
        return;
    const Clock::time_point end = Clock::now() + limits.deadline;
    const ThreadChannel thread(limits, names.size());
    const Resolving &resolving = thread.resolving();

    // What the name servers are asked; the rest is answered on the spot.
    std::vector<Lookup> lookups(std::size_t(names.size()));
    std::vector<qsizetype> asked;
    asked.reserve(std::size_t(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QByteArray &name = names[i];
        if (stop && stop->load())
            return;
        if (name.isEmpty() || name.contains('\0') || !resolving.channel) {
            answered(i, QString());
            continue;
        }
        // An address is its own answer, in the forms the C library reads
        // too (1.2.3 is 1.2.0.3, as inet_aton has it).
        if (in_addr literal{}; ::inet_aton(name.constData(), &literal) != 0) {
            char text[INET_ADDRSTRLEN] = {};
            answered(i, ::inet_ntop(AF_INET, &literal, text, sizeof text) ? QString::fromLatin1(text) : QString());
            continue;
        }
        if (resolving.hosts) {
            if (QString listed = resolving.hosts->firstIPv4(name); !listed.isEmpty()) {
                answered(i, listed);
                continue;
            }
        }
        asked.push_back(i);
    }
    if (asked.empty())
        return;

    ares_addrinfo_hints hints{};
    hints.ai_family = AF_INET;
    // The answer's own order: no sorting by reachability from here.
    hints.ai_flags = ARES_AI_NOSORT;
    for (const qsizetype i : asked)
        ares_getaddrinfo(resolving.channel, names[i].constData(), nullptr, &hints, &onAnswer, &lookups[std::size_t(i)]);

    // Each answer is handed over once the channel has let go of it, so that
    // the caller may start lookups of its own from there.
    std::size_t handed = 0;
    while (handed < asked.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        const bool stopped = stop && stop->load();
        if (stopped || left.count() <= 0) {
            // Cancelled, so the kept channel's next lookups start with
            // nothing of these left and their answers never arrive late.
            // The cancelled ones count as done, with no address.
            ares_cancel(resolving.channel);
            if (stopped)
                return;
            for (const qsizetype i : asked)
                lookups[std::size_t(i)].done = true;
        } else {
            step(resolving.channel, std::min(left, stopCheck));
        }
        for (std::size_t k = handed; k < asked.size(); ++k) {
            Lookup &lookup = lookups[std::size_t(asked[k])];
            if (!lookup.done || lookup.handed)
                continue;
            lookup.handed = true;
            answered(asked[k], lookup.address);
        }
        while (handed < asked.size() && lookups[std::size_t(asked[handed])].handed)
            ++handed;
    }
}

QString resolveFirstIPv4(const QByteArray &name, const StopFlag *stop, const ResolverLimits &limits)
{
    QString address;
    resolveFirstIPv4s({name}, stop, limits, [&address](qsizetype, const QString &found) { address = found; });
    return address;
}

} // namespace norvale
