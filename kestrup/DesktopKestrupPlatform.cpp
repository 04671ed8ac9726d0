#include "kestrup/DesktopKestrupPlatform.h"

#include <QMessageBox>
#include <QProcess>

namespace kestrup {

void DesktopKestrupPlatform::showMessage(const QString &title, const QString &text, QWidget *over)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, over);
    // The text names a folder, which may hold anything.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool DesktopKestrupPlatform::startDetached(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    return process.startDetached();
}

} // namespace kestrup
