#include "tests/support/RecordingPlatform.h"

#include <QMutexLocker>

namespace norvale::test {

void RecordingPlatform::openUrl(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    m_opened.append(address);
}

void RecordingPlatform::setClipboardText(const QString &text)
{
    QMutexLocker lock(&m_mutex);
    m_clipboard = text;
}

void RecordingPlatform::showMessage(const QString &title, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    m_messages.append(title + u'|' + text);
}

bool RecordingPlatform::askYesNo(const QString &title, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    m_questions.append(title + u'|' + text);
    return m_answerYes;
}

bool RecordingPlatform::startDetached(const QString &program, const QStringList &arguments)
{
    QMutexLocker lock(&m_mutex);
    m_started.append((QStringList{program} + arguments).join(u' '));
    return m_startSucceeds;
}

QString RecordingPlatform::chooseOpenFile(const QString &title, const QStringList &)
{
    QMutexLocker lock(&m_mutex);
    m_fileDialogs.append(title + u'|');
    return m_chosenFile;
}

QString RecordingPlatform::chooseSaveFile(const QString &title, const QString &suggested, const QStringList &,
                                          int *filter)
{
    QMutexLocker lock(&m_mutex);
    m_fileDialogs.append(title + u'|' + suggested);
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

QStringList RecordingPlatform::fileDialogs() const
{
    QMutexLocker lock(&m_mutex);
    return m_fileDialogs;
}

void RecordingPlatform::exitNow(int)
{
    QMutexLocker lock(&m_mutex);
    ++m_exits;
}

QStringList RecordingPlatform::openedUrls() const
{
    QMutexLocker lock(&m_mutex);
    return m_opened;
}

QString RecordingPlatform::clipboardText() const
{
    QMutexLocker lock(&m_mutex);
    return m_clipboard;
}

QStringList RecordingPlatform::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QStringList RecordingPlatform::questions() const
{
    QMutexLocker lock(&m_mutex);
    return m_questions;
}

QStringList RecordingPlatform::startedPrograms() const
{
    QMutexLocker lock(&m_mutex);
    return m_started;
}

int RecordingPlatform::exitRequests() const
{
    QMutexLocker lock(&m_mutex);
    return m_exits;
}

void RecordingPlatform::setStartSucceeds(bool succeeds)
{
    QMutexLocker lock(&m_mutex);
    m_startSucceeds = succeeds;
}

void RecordingPlatform::setAnswerYes(bool yes)
{
    QMutexLocker lock(&m_mutex);
    m_answerYes = yes;
}

} // namespace norvale::test
