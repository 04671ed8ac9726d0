#include "norvale/gui/startup/StartupSequence.h"

#include "norvale/gui/about/Fabout.h"
#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/KeywordBox.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/core/startup/FirstRun.h"
#include "norvale/gui/startup/fload.h"

#include <QLabel>
#include <QLineEdit>
#include <QThread>

namespace norvale {

StartupSequence::StartupSequence(ServerDatabase &database, Platform &platform, QString programFolder,
                                 QObject *parent)
    : QObject(parent), m_database(database), m_platform(platform),
      m_programFolder(std::move(programFolder))
{
}

StartupSequence::~StartupSequence()
{
    // A worker posts its outcome to this object, so it must be done before
    // this object goes.
    for (QThread *worker : std::as_const(m_workers)) {
        worker->wait();
        delete worker;
    }
}

template <typename Result>
void StartupSequence::runOnWorker(std::function<Result()> work, std::function<void(Result)> done)
{
    ++m_pending;
    QThread *worker = QThread::create([this, work = std::move(work), done = std::move(done)] {
        Result result = work();
        QMetaObject::invokeMethod(
            this,
            [this, done, result = std::move(result)] {
                --m_pending;
                if (m_state != State::Ended)
                    done(result);
            },
            Qt::QueuedConnection);
    });
    m_workers.append(worker);
    connect(worker, &QThread::finished, this, [this, worker] {
        m_workers.removeOne(worker);
        worker->deleteLater();
    });
    worker->start();
}

void StartupSequence::start()
{
    if (m_state != State::NotStarted)
        return;

    // On a new machine the initialiser prepares the components first and
    // starts the program again; nothing is shown here.
    if (handOffFirstRun(m_programFolder, m_platform)) {
        m_state = State::Ended;
        emit ended();
        return;
    }

    m_splash = std::make_unique<fload>();
    connect(m_splash.get(), &fload::cancelRequested, this, &StartupSequence::onSplashCancel);
    m_splash->show();
    m_state = State::SplashShown;

    // The first getconnstr of a run asks the data-address service.
    runOnWorker<bool>([this] { return m_database.getconnstr().has_value(); },
                      [this](bool found) { onAddressKnown(found); });
}

void StartupSequence::onSplashCancel()
{
    if (m_state != State::SplashShown)
        return;
    m_platform.exitNow(0);
    endRun();
}

void StartupSequence::onAddressKnown(bool found)
{
    if (!found) {
        // The connection layer has told the user and ended the program.
        endRun();
        return;
    }

    m_main = std::make_unique<Fdomain>(m_database, m_platform);
    connect(m_main.get(), &Fdomain::activated, this, &StartupSequence::closeSplash);
    m_main->setConfiguration(m_config);
    m_about = std::make_unique<Fabout>(m_config, m_platform, m_programFolder);
    m_main->setAbout(m_about.get());
    m_main->Load();
    if (!m_settingsFile.isEmpty())
        m_main->rememberIn(m_settingsFile);
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
    m_state = State::ConfigPending;

    runOnWorker<ConfigLoadResult>([this] { return loadConfigRecord(m_database); },
                                  [this](ConfigLoadResult result) { onConfigLoaded(std::move(result)); });
}

void StartupSequence::onConfigLoaded(ConfigLoadResult result)
{
    switch (result.outcome) {
    case ConfigLoadResult::Outcome::Loaded:
        break;
    case ConfigLoadResult::Outcome::Failed:
        // Without its configuration the program has no address to work with.
        m_platform.showMessage(QStringLiteral("Norvale"), result.error, m_main.get());
        m_platform.exitNow(1);
        endRun();
        return;
    case ConfigLoadResult::Outcome::Ending:
        endRun();
        return;
    }

    m_config.load(std::move(result.record));
    m_main->controls().lload->hide();
    // A desktop that refused to activate the main window would leave the
    // splash standing over it.
    closeSplash();
    m_main->controls().lfind->setFocus();
    m_state = State::Ready;
    emit ready();
}

void StartupSequence::closeSplash()
{
    if (m_splash)
        m_splash->dismiss();
}

void StartupSequence::endRun()
{
    m_state = State::Ended;
    closeSplash();
    if (m_main)
        m_main->hide();
    emit ended();
}

} // namespace norvale
