#pragma once

#include "norvale/core/platform/Platform.h"

#include <QMutex>
#include <QStringList>

namespace norvale::test {

// Answers every message at once and writes down what the program asked the
// desktop to do, so that tests neither block nor open anything. Workers may
// call it from any thread.
class RecordingPlatform final : public Platform {
public:
    void openUrl(const QString &address) override { append(m_opened, address); }
    void setClipboardText(const QString &text) override { write(m_clipboard, text); }
    void showMessage(const QString &title, const QString &text, QObject *over) override;
    bool askYesNo(const QString &title, const QString &text, QObject *over) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
    void exitNow(int) override;
    QString chooseOpenFile(const QString &, const QStringList &, QObject *over) override;
    QString chooseSaveFile(const QString &title, const QString &suggested, const QStringList &filters,
                           int *filter, QObject *over) override;

    QStringList openedUrls() const { return read(m_opened); }
    QString clipboardText() const { return read(m_clipboard); }
    QStringList messages() const { return read(m_messages); }     // "title|text" per message, in order
    QStringList questions() const { return read(m_questions); }   // "title|text" per Yes/No question, in order
    QStringList startedPrograms() const { return read(m_started); }
    int exitRequests() const { return read(m_exits); }
    // What each message, question and file dialog was asked to open over, in
    // order; only for comparing, never dereferenced.
    QList<const QObject *> owners() const { return read(m_owners); }

    // What startDetached reports; the program is never really started.
    void setStartSucceeds(bool succeeds) { write(m_startSucceeds, succeeds); }
    // How every Yes/No question is answered; No until told otherwise.
    void setAnswerYes(bool yes) { write(m_answerYes, yes); }
    // What the next file dialogs answer (the empty text: cancelled), and the
    // filter index a save dialog reports.
    void setChosenFile(const QString &path, int filter = 0);

private:
    template <typename T>
    T read(const T &field) const
    {
        QMutexLocker lock(&m_mutex);
        return field;
    }
    template <typename T>
    void write(T &field, const T &value)
    {
        QMutexLocker lock(&m_mutex);
        field = value;
    }
    void append(QStringList &list, const QString &entry)
    {
        QMutexLocker lock(&m_mutex);
        list.append(entry);
    }

    mutable QMutex m_mutex;
    QStringList m_opened;
    QString m_clipboard;
    QStringList m_messages;
    QStringList m_started;
    QStringList m_questions;
    QList<const QObject *> m_owners;
    bool m_answerYes = false;
    int m_exits = 0;
    bool m_startSucceeds = true;
    QString m_chosenFile;
    int m_chosenFilter = 0;
};

} // namespace norvale::test
