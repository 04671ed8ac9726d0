#pragma once

#include "norvale/platform/Platform.h"

#include <QMutex>
#include <QStringList>

namespace norvale::test {

// Answers every message at once and writes down what the program asked the
// desktop to do, so that tests neither block nor open anything.
class RecordingPlatform final : public Platform {
public:
    void openUrl(const QString &address) override;
    void setClipboardText(const QString &text) override;
    void showMessage(const QString &title, const QString &text) override;
    bool askYesNo(const QString &title, const QString &text) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
    void exitNow(int code) override;
    QString chooseOpenFile(const QString &title, const QStringList &filters) override;
    QString chooseSaveFile(const QString &title, const QString &suggested, const QStringList &filters,
                           int *filter) override;

    QStringList openedUrls() const;
    QString clipboardText() const;
    QStringList messages() const;       // "title|text" per message, in order
    QStringList questions() const;      // "title|text" per Yes/No question, in order
    QStringList startedPrograms() const;
    int exitRequests() const;

    // What startDetached reports; the program is never really started.
    void setStartSucceeds(bool succeeds);
    // How every Yes/No question is answered; No until told otherwise.
    void setAnswerYes(bool yes);
    // What the next file dialogs answer (the empty text: cancelled), and the
    // filter index a save dialog reports.
    void setChosenFile(const QString &path, int filter = 0);
    QStringList fileDialogs() const;    // "title|suggested name" per dialog, in order

private:
    mutable QMutex m_mutex;
    QStringList m_opened;
    QString m_clipboard;
    QStringList m_messages;
    QStringList m_started;
    QStringList m_questions;
    bool m_answerYes = false;
    int m_exits = 0;
    bool m_startSucceeds = true;
    QString m_chosenFile;
    int m_chosenFilter = 0;
    QStringList m_fileDialogs;
};

} // namespace norvale::test
