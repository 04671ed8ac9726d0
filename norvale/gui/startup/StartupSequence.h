#pragma once

#include "norvale/core/config/ConfigLoad.h"
#include "norvale/core/config/Configuration.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QThread;

namespace norvale {

class Fabout;
class Fdomain;
class Platform;
class ServerDatabase;
class fload;

// The program's start: the first-run hand-off, the splash, the main window
// once the database's address is known, then the configuration, which it
// owns and hands to the windows. Discovery and the configuration query
// run on worker threads, so the splash and the main window stay responsive.
class StartupSequence final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StartupSequence)

public:
    enum class State {
        NotStarted,
        SplashShown,        // waiting for the database's address
        ConfigPending,      // main window up, configuration being read
        Ready,
        Ended,              // the program was told to end (or handed off)
    };
    Q_ENUM(State)

    // programFolder is where the first-run marker and the initialiser are
    // looked for: the executable's folder in the program, any folder in tests.
    StartupSequence(ServerDatabase &database, Platform &platform, QString programFolder,
                    QObject *parent = nullptr);
    ~StartupSequence() override;

    // Where the main window keeps what it remembers between runs; without
    // it (tests) the window remembers nothing.
    void setSettingsFile(const QString &file) { m_settingsFile = file; }

    void start();

    State state() const { return m_state; }
    // True while a worker runs or its result waits to be handled.
    bool isBusy() const { return m_pending > 0; }

    fload *splash() const { return m_splash.get(); }
    Fdomain *mainWindow() const { return m_main.get(); }
    Fabout *about() const { return m_about.get(); }
    const Configuration &configuration() const { return m_config; }

signals:
    void ready();
    // The program was told to end. The platform normally ends the process
    // there; where it returns (tests), no window of the program is left open.
    void ended();

private:
    void onSplashCancel();
    void onAddressKnown(bool found);
    void onConfigLoaded(ConfigLoadResult result);
    void closeSplash();
    void endRun();
    // Runs work on a thread of its own and hands its outcome to done on this
    // object's thread; done is skipped once the run has ended.
    template <typename Result>
    void runOnWorker(std::function<Result()> work, std::function<void(Result)> done);

    ServerDatabase &m_database;
    Platform &m_platform;
    const QString m_programFolder;
    QString m_settingsFile;
    State m_state = State::NotStarted;
    // Before the windows that read it.
    Configuration m_config;
    int m_pending = 0;
    std::unique_ptr<fload> m_splash;
    std::unique_ptr<Fdomain> m_main;
    std::unique_ptr<Fabout> m_about;
    QList<QThread *> m_workers;
};

} // namespace norvale
