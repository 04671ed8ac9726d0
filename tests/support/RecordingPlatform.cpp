#include "tests/support/RecordingPlatform.h"

namespace norvale::test {

bool RecordingPlatform::askYesNo(const QString &title, const QString &text)
{
    append(m_questions, title + u'|' + text);
    return read(m_answerYes);
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

QString RecordingPlatform::chooseSaveFile(const QString &, const QString &, const QStringList &, int *filter)
{
    QMutexLocker lock(&m_mutex);
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
