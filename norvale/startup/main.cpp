#include "norvale/data/ServerDatabase.h"
#include "norvale/platform/DesktopPlatform.h"
#include "norvale/startup/FontSubstitutes.h"
#include "norvale/startup/StartupSequence.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvale"));
    norvale::installFontSubstitutes();

    norvale::DesktopPlatform platform;
    norvale::ServerDatabase database(platform);
    norvale::StartupSequence sequence(database, platform, QCoreApplication::applicationDirPath());
    // One line on stderr, so that a script can tell the start-up has finished.
    QObject::connect(&sequence, &norvale::StartupSequence::ready, &app,
                     [] { qInfo("Norvale is ready"); });
    sequence.start();
    // The program always ends through the platform's immediate exit.
    return QApplication::exec();
}
