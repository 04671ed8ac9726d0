#pragma once

#include "kestrup/ComponentInstaller.h"
#include "kestrup/Components.h"

#include <QObject>
#include <QString>

#include <atomic>

class QThread;

namespace kestrup {

class Form1;
class KestrupPlatform;

// One pass of Kestrup: shows the window, sees to the components on a worker
// thread, reports files still missing once, starts Norvale from Kestrup's
// own folder and closes the window.
class KestrupRun final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KestrupRun)

public:
    KestrupRun(Form1 &window, KestrupPlatform &platform, QString programFolder, ComponentLists lists,
               ComponentPlaces places, QObject *parent = nullptr);
    ~KestrupRun() override;

    void start();

signals:
    // The window has been closed; the pass is over.
    void finished();

private:
    void onInstalled(const QStringList &missing);

    Form1 &m_window;
    KestrupPlatform &m_platform;
    const QString m_programFolder;
    const ComponentLists m_lists;
    const ComponentPlaces m_places;
    std::atomic_bool m_stop{false};
    QThread *m_worker = nullptr;
};

} // namespace kestrup
