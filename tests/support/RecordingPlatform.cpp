#include "tests/support/RecordingPlatform.h"

namespace norvale::test {

void RecordingPlatform::showMessage(const QString &title, const QString &text, QObject *over)
{
    QMutexLocker lock(&m_mutex);
    m_messages.append(title + u'|' + text);
    m_owners.append(over);
}

bool RecordingPlatform::askYesNo(const QString &title, const QString &text, QObject *over)
{
    QMutexLocker lock(&m_mutex);
    m_questions.append(title + u'|' + text);
    m_owners.append(over);
    return m_answerYes;
}

QString RecordingPlatform::chooseOpenFile(const QString &, const QStringList &, QObject *over)
{
    QMutexLocker lock(&m_mutex);
    m_owners.append(over);
    return m_chosenFile;
}

bool RecordingPlatform::startDetached(const QString &program, const QStringList &arguments)
{
    append(m_started, (QStringList{program} + arguments).join(u' '));
    return read(m_startSucceeds);
}

void RecordingPlatform::exitNow(int)
{
    QMutexLocker lock(&m_mutex);
    ++m_exits;
}

QString RecordingPlatform::chooseSaveFile(const QString &, const QString &, const QStringList &, int *filter,
                                          QObject *over)
{
    QMutexLocker lock(&m_mutex);
    m_owners.append(over);
    if (filter)
        *filter = m_chosenFilter;
    return m_chosenFile;
}

void RecordingPlatform::setChosenFile(const QString &path, int filter)
{
    QMutexLocker lock(&m_mutex);
    m_chosenFile = path;
    m_chosenFilter = filter;
}

} // namespace norvale::test
