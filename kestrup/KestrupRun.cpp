#include "kestrup/KestrupRun.h"

#include "kestrup/Form1.h"
#include "kestrup/KestrupPlatform.h"

#include <QThread>

namespace kestrup {

KestrupRun::KestrupRun(Form1 &window, KestrupPlatform &platform, QString programFolder,
                       ComponentLists lists, ComponentPlaces places, QObject *parent)
    : QObject(parent), m_window(window), m_platform(platform), m_programFolder(std::move(programFolder)),
      m_lists(std::move(lists)), m_places(std::move(places))
{
    // Closing the window by hand skips the files not reached yet.
    connect(&m_window, &Form1::stopRequested, this, [this] { m_stop = true; });
}

KestrupRun::~KestrupRun()
{
    if (m_worker) {
        m_stop = true;
        m_worker->wait();
        delete m_worker;
    }
}

void KestrupRun::start()
{
    if (m_worker)
        return;
    m_window.show();
    // File copies may be slow; the window keeps painting meanwhile.
    m_worker = QThread::create([this] {
        QStringList missing = installComponents(m_lists, m_places, m_platform, m_stop);
        QMetaObject::invokeMethod(this, [this, missing = std::move(missing)] { onInstalled(missing); },
                                  Qt::QueuedConnection);
    });
    m_worker->start();
}

void KestrupRun::onInstalled(const QStringList &missing)
{
    if (!missing.isEmpty() && !m_stop)
        m_platform.showMessage(QStringLiteral("Kestrup"), missingFilesMessage(m_places.componentFolder, missing),
                               &m_window);
    // Norvale comes back whether or not its executable is there; a failed
    // start is not reported.
    m_platform.startDetached(m_programFolder + QStringLiteral("/norvale"), {});
    m_window.finish();
    emit finished();
}

} // namespace kestrup
