// norvale-services: the operator's web services and database, on this machine.
#include "services/DataTransfer.h"
#include "services/GeoFile.h"
#include "services/Options.h"
#include "services/PageText.h"
#include "services/ServiceDatabase.h"
#include "services/ServicePages.h"
#include "services/ServiceServer.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <cstdio>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

void say(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString baseFor(const QString &host, int port)
{
    QString shown = host;
    if (shown == QLatin1StringView("0.0.0.0"))
        shown = QStringLiteral("127.0.0.1");
    else if (shown.contains(u':'))
        shown = u'[' + shown + u']';
    return QStringLiteral("http://") + shown + u':' + QString::number(port);
}

} // namespace

int main(int argc, char *argv[])
{
    // Block the stop signals before any thread exists, so every thread
    // inherits the mask and only sigwait() below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);   // the listener's own failure
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvale-services"));

    norvale::ServiceOptions options;
    QString error;
    QStringList arguments = app.arguments().mid(1);
    std::optional<norvale::DataCommand> command;
    if (!norvale::takeDataCommand(&arguments, &command, &error)
        || !norvale::parseServiceOptions(arguments, &options, &error)) {
        say(stderr, QStringLiteral("norvale-services: ") + error);
        say(stderr, norvale::serviceUsage() + norvale::dataCommandUsage());
        return 2;
    }
    if (options.help) {
        say(stdout, norvale::serviceUsage() + norvale::dataCommandUsage());
        return 0;
    }
    if (options.databasePath.isEmpty())
        options.databasePath = norvale::defaultDatabasePath();
    norvale::ServiceStore store;
    if (!norvale::ServiceStore::fromText(options.databasePath, &store, &error)) {
        say(stderr, QStringLiteral("norvale-services: ") + error);
        return 2;
    }
    // The data-address page, in GB2312, announces where the tables are; a
    // character it cannot hold would send Norvale elsewhere.
    if (!norvale::fitsGb2312(store.connectionText())) {
        say(stderr, QStringLiteral("norvale-services: the database ") + store.shown()
                        + QStringLiteral(" holds characters that the data-address page (GB2312) cannot carry; "
                                         "choose a path without them"));
        return 2;
    }

    // An import or export runs beside a serving instance, on the same
    // database, and ends.
    if (command) {
        QString done;
        if (!norvale::ensureServiceDatabase(store, &error) || !norvale::upgradeServiceDatabase(store, &error)
            || !norvale::ensureChangeCounter(store, &error)
            || !norvale::runDataCommand(store, *command, &done, &error)) {
            say(stderr, QStringLiteral("norvale-services: ") + error);
            return 1;
        }
        say(stdout, QStringLiteral("norvale-services: ") + done);
        return 0;
    }

    // The registries answer what the operator's tables do not decide.
    std::unique_ptr<norvale::Registries> registries;
    if (options.registries.enabled) {
        options.registries.keptBootstrap = norvale::keptBootstrapPath();
        registries = std::make_unique<norvale::Registries>(store, options.registries);
        if (!registries->load(&error)) {
            say(stderr, QStringLiteral("norvale-services: ") + error);
            return 2;
        }
    }

    if (!norvale::ensureServiceDatabase(store, &error)) {
        say(stderr, QStringLiteral("norvale-services: cannot create the database ") + store.shown()
                        + QStringLiteral(": ") + error);
        return 1;
    }

    if (registries) {
        if (!registries->start(&error)) {
            say(stderr, QStringLiteral("norvale-services: ") + error);
            return 1;
        }
        say(stderr, QStringLiteral("norvale-services: ") + registries->describe());
    } else {
        say(stderr, QStringLiteral("norvale-services: registries off: the operator's tables alone decide, "
                                   "and a name they do not hold is answered as free"));
    }

    // Slow clients hold descriptors until their deadline, never workers:
    // let the process have as many descriptors as the system allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    norvale::GeoFile geoFile;
    if (!options.geoDatabase.isEmpty() && !geoFile.open(options.geoDatabase, &error)) {
        say(stderr, QStringLiteral("norvale-services: ") + error);
        return 2;
    }

    // Bind first: with --port 0 the base address is known only now.
    norvale::ServicePages pages(store, registries.get());
    if (!options.geoDatabase.isEmpty())
        pages.setGeoFile(&geoFile);
    norvale::GateLimits limits;
    limits.requestDeadline = std::chrono::seconds(options.requestDeadlineSeconds);
    limits.connectionsPerAddress = options.connectionsPerAddress;
    norvale::ServiceServer server(pages, options.delayMs, options.delayPath, limits);
    const int port = server.bind(options.host, options.port);
    if (port <= 0) {
        say(stderr, QStringLiteral("norvale-services: cannot listen on ") + options.host + u':'
                        + QString::number(options.port));
        return 1;
    }
    const QString base = baseFor(options.host, port);
    pages.setBase(base);
    if (!norvale::upgradeServiceDatabase(store, &error))
        say(stderr, QStringLiteral("norvale-services: names keep comparing with letter case: ") + error);
    if (!norvale::rebaseConfiguration(store, base, &error))
        say(stderr, QStringLiteral("norvale-services: lconfig_all keeps its old addresses: ") + error);
    if (norvale::ensureChangeCounter(store, &error)) {
        pages.setChangeCounter(true);
        server.answerKeptPagesAtOnce();
    } else {
        say(stderr, QStringLiteral("norvale-services: every page is made afresh, the database keeps no change number: ")
                        + error);
    }

    say(stderr, QStringLiteral("norvale-services: database ") + store.shown());
    say(stdout, QStringLiteral("norvale-services listening on ") + base);

    bool served = true;
    std::atomic_bool listening = true;
    std::thread listener([&] {
        served = server.listen();
        listening = false;
        kill(getpid(), SIGUSR1);
    });

    int received = 0;
    sigwait(&stopSignals, &received);
    // A stop that arrives before the listener has entered its loop is lost,
    // so keep asking until it has returned.
    while (listening) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    listener.join();
    if (registries)
        registries->stop();
    if (received == SIGUSR1 && !served) {
        say(stderr, QStringLiteral("norvale-services: serving failed"));
        return 1;
    }
    return 0;
}
