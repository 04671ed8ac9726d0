#include "services/registry/Registries.h"

#include "services/ServiceDatabase.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace norvale {

namespace {

constexpr auto kDay = std::chrono::hours(24);
constexpr auto kRetryRefresh = std::chrono::hours(1);
constexpr std::chrono::milliseconds kSourceBound{30000};
constexpr int kPurgeEvery = 1000;   // stored answers between two sweeps of the expired ones

bool isAddress(const QString &source)
{
    return source.startsWith(QLatin1StringView("http://"), Qt::CaseInsensitive)
           || source.startsWith(QLatin1StringView("https://"), Qt::CaseInsensitive);
}

QByteArray shipped(const char *name)
{
    QFile file(QStringLiteral(":/norvale-services/data/") + QLatin1StringView(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

QByteArray readSource(const QString &source, std::chrono::milliseconds bound, QString *error,
                      const std::atomic<bool> *abandon)
{
    if (!isAddress(source)) {
        QFile file(source);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = source + QStringLiteral(": ") + file.errorString();
            return {};
        }
        return file.read(16 * 1024 * 1024);
    }
    ExchangeBounds bounds;
    bounds.deadline = RegistryClock::now() + bound;
    bounds.abandon = abandon;
    const RegistryReply reply = rdapGet(source, bounds);
    if (!reply.complete || reply.httpStatus != 200) {
        *error = source + (reply.complete ? QStringLiteral(" answered %1").arg(reply.httpStatus)
                                          : QStringLiteral(" could not be fetched"));
        return {};
    }
    return reply.body;
}

Registries::Registries(ServiceStore store, RegistryOptions options)
    : m_store(std::move(store)), m_options(std::move(options))
{
}

Registries::~Registries()
{
    stop();
}

bool Registries::load(QString *error)
{
    QByteArray bootstrap = shipped("dns.json");
    QByteArray whoisTable = shipped("whois-servers.txt");
    if (!isAddress(m_options.bootstrap)) {
        bootstrap = readSource(m_options.bootstrap, kSourceBound, error);
        if (bootstrap.isEmpty())
            return false;
    } else if (!m_options.keptBootstrap.isEmpty()) {
        // The copy fetched on an earlier day, unless the shipped one is newer.
        QFile kept(m_options.keptBootstrap);
        RegistryDirectory keptDirectory;
        RegistryDirectory shippedDirectory;
        QString ignored;
        const QByteArray text = kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray();
        if (keptDirectory.readBootstrap(text, &ignored) && shippedDirectory.readBootstrap(bootstrap, &ignored)
            && keptDirectory.publication() >= shippedDirectory.publication())
            bootstrap = text;
    }
    if (!m_options.whoisServers.isEmpty() && !isAddress(m_options.whoisServers)) {
        whoisTable = readSource(m_options.whoisServers, kSourceBound, error);
        if (whoisTable.isEmpty())
            return false;
    }
    return rebuild(bootstrap, whoisTable, error);
}

bool Registries::start(QString *error)
{
    // The cache table, in the operator's database too when it predates it.
    {
        const QSqlDatabase db = threadDatabase(m_store, false, true);
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS svc_registry_cache ("
                                       "ldomain TEXT PRIMARY KEY, lregistered INTEGER NOT NULL, "
                                       "lexpires BIGINT NOT NULL)"))) {
            *error = QStringLiteral("cannot create the registry cache: ") + query.lastError().text();
            return false;
        }
    }

    if (isAddress(m_options.bootstrap) || isAddress(m_options.whoisServers))
        m_refresher = std::thread([this] { refreshLoop(); });
    return true;
}

void Registries::stop()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_abandon = true;
    m_stopChanged.notify_all();
    if (m_refresher.joinable())
        m_refresher.join();
}

QString Registries::describe() const
{
    const auto current = directory();
    const QString bootstrap = isAddress(m_options.bootstrap) ? m_options.bootstrap + QStringLiteral(" (daily)")
                                                             : m_options.bootstrap;
    const QString whois = m_options.whoisServers.isEmpty() ? QStringLiteral("the shipped table") : m_options.whoisServers;
    return QStringLiteral("registries: RDAP for %1 zones by %2 (published %3), port-43 whois for %4 zones by %5")
        .arg(current->rdapZones())
        .arg(bootstrap, current->publication())
        .arg(current->whoisZones())
        .arg(whois);
}

std::shared_ptr<const RegistryDirectory> Registries::directory() const
{
    std::lock_guard lock(m_mutex);
    return m_directory;
}

bool Registries::rebuild(const QByteArray &bootstrap, const QByteArray &whoisTable, QString *error)
{
    auto fresh = std::make_shared<RegistryDirectory>();
    QString why;
    if (!fresh->readBootstrap(bootstrap, &why)) {
        *error = QStringLiteral("the bootstrap file is not usable: ") + why;
        return false;
    }
    if (!fresh->readWhoisTable(whoisTable, &why)) {
        *error = QStringLiteral("the whois table is not usable: ") + why;
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_bootstrapText = bootstrap;
    m_whoisText = whoisTable;
    m_directory = std::move(fresh);
    return true;
}

RegistryGate &Registries::gateFor(const QString &key)
{
    std::lock_guard lock(m_mutex);
    auto &gate = m_gates[key.toStdString()];
    if (!gate) {
        const auto own = m_options.serverLimits.find(key);
        gate = std::make_unique<RegistryGate>(own != m_options.serverLimits.end() ? own->second : m_options.limits);
    }
    return *gate;
}

Verdict Registries::ask(const RegistrySource &source, RegistryClock::time_point deadline, QString *text)
{
    RegistryGate &gate = gateFor(source.serverKey());
    // A 429 or a refusal is waited out and asked again while the page allows.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (gate.enter(deadline) != RegistryGate::Entry::Granted)
            return Verdict::Unknown;
        ExchangeBounds bounds;
        bounds.connect = m_options.connectBound;
        bounds.deadline = std::min(deadline, RegistryClock::now() + m_options.queryBound);
        const bool rdap = source.kind == RegistrySource::Kind::Rdap;
        const RegistryReply reply = rdap ? rdapGet(source.rdapBase + QStringLiteral("domain/") + source.query, bounds)
                                         : whoisAsk(source.whois.host, source.whois.port, source.query, bounds);
        ++m_queries;
        gate.leave();
        if (!reply.connected) {
            gate.markDown();
            return Verdict::Unknown;
        }
        if (rdap) {
            if (reply.httpStatus == 429) {
                gate.slowDown(reply.retryAfter);
                continue;
            }
            const Verdict verdict = rdapVerdict(reply);
            if (reply.complete && reply.httpStatus < 500)
                gate.answered();
            if (text && verdict == Verdict::Registered)
                *text = rdapAsText(reply.body);
            return verdict;
        }
        if (!reply.complete)
            return Verdict::Unknown;
        const QString answer = decodeWhoisText(reply.body);
        if (whoisIsThrottled(answer)) {
            gate.slowDown(std::chrono::milliseconds(-1));
            continue;
        }
        gate.answered();
        const Verdict verdict = whoisVerdict(answer, source.query, source.whois.noMatch);
        if (text)
            *text = answer.trimmed();
        return verdict;
    }
    return Verdict::Unknown;
}

Verdict Registries::status(const QSqlDatabase &db, const QString &name)
{
    const auto deadline = RegistryClock::now() + m_options.pageBound;
    const RegistrySource source = directory()->sourceFor(name);
    if (source.kind == RegistrySource::Kind::None) {
        ++m_unknown;
        return Verdict::Unknown;
    }
    Verdict verdict = Verdict::Unknown;
    if (cached(db, source.query, &verdict)) {
        ++m_cacheHits;
        return verdict;
    }

    // Concurrent asks for one name wait for the first one's query.
    const std::string key = source.query.toStdString();
    std::shared_ptr<Flight> flight;
    bool leading = false;
    {
        std::lock_guard lock(m_flightsMutex);
        auto &slot = m_flights[key];
        if (!slot) {
            slot = std::make_shared<Flight>();
            leading = true;
        }
        flight = slot;
    }
    if (!leading) {
        std::unique_lock lock(flight->mutex);
        if (!flight->done.wait_until(lock, deadline, [&] { return flight->finished; })) {
            ++m_unknown;
            return Verdict::Unknown;
        }
        if (flight->verdict == Verdict::Unknown)
            ++m_unknown;
        else
            ++m_cacheHits;
        return flight->verdict;
    }

    if (cached(db, source.query, &verdict)) {
        ++m_cacheHits;   // kept by a flight that ended just before this one began
    } else {
        verdict = ask(source, deadline, nullptr);
        if (verdict == Verdict::Unknown)
            ++m_unknown;
        else
            keep(source.query, verdict);
    }
    {
        std::lock_guard lock(flight->mutex);
        flight->finished = true;
        flight->verdict = verdict;
    }
    flight->done.notify_all();
    {
        std::lock_guard lock(m_flightsMutex);
        m_flights.erase(key);
    }
    return verdict;
}

QString Registries::whois(const QString &name, Verdict *verdict)
{
    const auto deadline = RegistryClock::now() + m_options.pageBound;
    const auto current = directory();
    const RegistrySource source = current->sourceFor(name);
    *verdict = Verdict::Unknown;
    if (source.kind == RegistrySource::Kind::None)
        return {};
    QString text;
    *verdict = ask(source, deadline, &text);
    if (*verdict != Verdict::Unknown)
        keep(source.query, *verdict);
    if (*verdict != Verdict::Registered)
        return {};
    if (source.kind == RegistrySource::Kind::Whois) {
        // A thin registry names the registrar's server, which holds the rest.
        const QString referred = whoisReferral(text);
        const WhoisServer registrar = current->referral(referred);
        if (!referred.isEmpty() && (registrar.host != source.whois.host || registrar.port != source.whois.port)) {
            RegistrySource next;
            next.kind = RegistrySource::Kind::Whois;
            next.query = source.query;
            next.whois = registrar;
            QString more;
            if (ask(next, deadline, &more) != Verdict::Unknown && !more.isEmpty())
                text += QStringLiteral("\r\n\r\n") + more;
        }
    }
    return text;
}

bool Registries::cached(const QSqlDatabase &db, const QString &name, Verdict *verdict) const
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT lregistered FROM svc_registry_cache WHERE ldomain = ? AND lexpires > ?"));
    query.addBindValue(name);
    query.addBindValue(nowSeconds());
    // A cache that cannot be read costs a query, never the page.
    if (!query.exec() || !query.next())
        return false;
    *verdict = query.value(0).toInt() != 0 ? Verdict::Registered : Verdict::Free;
    return true;
}

void Registries::keep(const QString &name, Verdict verdict)
{
    const bool registered = verdict == Verdict::Registered;
    // A kept connection the server dropped (it restarted) is replaced once.
    for (bool retried = false;; retried = true) {
        const QSqlDatabase db = threadDatabase(m_store, retried, true);
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT INTO svc_registry_cache (ldomain, lregistered, lexpires) VALUES (?, ?, ?) "
                                     "ON CONFLICT (ldomain) DO UPDATE SET lregistered = excluded.lregistered, "
                                     "lexpires = excluded.lexpires"));
        query.addBindValue(name);
        query.addBindValue(registered ? 1 : 0);
        query.addBindValue(nowSeconds() + (registered ? m_options.registeredSeconds : m_options.freeSeconds));
        if (query.exec() || retried || db.isOpen())
            break;
    }
    if (++m_kept % kPurgeEvery == 0) {
        QSqlQuery purge(threadDatabase(m_store, false, true));
        purge.prepare(QStringLiteral("DELETE FROM svc_registry_cache WHERE lexpires <= ?"));
        purge.addBindValue(nowSeconds());
        purge.exec();
    }
}

QByteArray Registries::statsText() const
{
    return "registry queries " + QByteArray::number(m_queries.load()) + "\nregistry cache_hits "
           + QByteArray::number(m_cacheHits.load()) + "\nregistry unknown " + QByteArray::number(m_unknown.load())
           + '\n';
}

bool Registries::refreshOnce()
{
    QByteArray bootstrap;
    QByteArray whoisTable;
    {
        std::lock_guard lock(m_mutex);
        bootstrap = m_bootstrapText;
        whoisTable = m_whoisText;
    }
    bool fetched = true;
    QString error;
    if (isAddress(m_options.bootstrap)) {
        const QByteArray fresh = readSource(m_options.bootstrap, kSourceBound, &error, &m_abandon);
        RegistryDirectory check;
        if (!fresh.isEmpty() && check.readBootstrap(fresh, &error)) {
            bootstrap = fresh;
            if (!m_options.keptBootstrap.isEmpty()) {
                QDir().mkpath(QFileInfo(m_options.keptBootstrap).absolutePath());
                QSaveFile kept(m_options.keptBootstrap);
                if (kept.open(QIODevice::WriteOnly) && kept.write(fresh) == fresh.size())
                    kept.commit();
            }
        } else {
            fetched = false;
        }
    }
    if (isAddress(m_options.whoisServers)) {
        const QByteArray fresh = readSource(m_options.whoisServers, kSourceBound, &error, &m_abandon);
        RegistryDirectory check;
        if (!fresh.isEmpty() && check.readWhoisTable(fresh, &error))
            whoisTable = fresh;
        else
            fetched = false;
    }
    if (!error.isEmpty())
        std::fprintf(stderr, "norvale-services: registry tables kept as they were: %s\n", qPrintable(error));
    return rebuild(bootstrap, whoisTable, &error) && fetched;
}

void Registries::refreshLoop()
{
    for (;;) {
        const bool fetched = refreshOnce();
        std::unique_lock lock(m_stopMutex);
        if (m_stopChanged.wait_for(lock, fetched ? std::chrono::duration_cast<std::chrono::seconds>(kDay)
                                                 : std::chrono::duration_cast<std::chrono::seconds>(kRetryRefresh),
                                   [this] { return m_stopping; }))
            return;
    }
}

} // namespace norvale
