#pragma once

#include "norvale/core/search/KeywordPattern.h"

#include <QDialog>
#include <QThreadPool>

#include <atomic>
#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace norvale {

class Fdomain;
class Platform;

// "生成关键词": a keyword pattern typed by the trader, its count and first
// keywords as it is typed, and "生成并搜索", which puts the keywords into
// the main window's keyword box as a list and starts the search. Patterns
// are read on a worker (reading pinyin loads ICU's rules, which takes a
// moment the first time); only the newest text's answer is shown.
class Fgenerate final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fgenerate)

public:
    // The keyword box holds a list as text, so at most this many keywords
    // go over; a larger pattern's first ones, after a warning.
    static constexpr int MaxHandedOver = 100000;
    static constexpr int SampleSize = 20;
    // Candidates (keywords × ticked kinds) above which the search is confirmed.
    static constexpr quint64 ConfirmAbove = 10000;

    Fgenerate(Fdomain &window, Platform &platform);
    ~Fgenerate() override;

    QLineEdit *lpattern() const { return m_lpattern; }
    QLabel *lcount() const { return m_lcount; }
    QPlainTextEdit *lsample() const { return m_lsample; }
    QPushButton *lok() const { return m_lok; }
    QPushButton *lcancel() const { return m_lcancel; }

    // The kinds the search will run: the ticked boxes, or all with "全部".
    int tickedKinds() const;

signals:
    // The count and sample of the newest pattern are shown.
    void evaluated();
    // The keywords are in the keyword box and the search has started.
    void handedOver();

private:
    struct Evaluation;
    void evaluate();
    void present(const Evaluation &result);
    // The count line of the shown pattern, under the kinds ticked now.
    void showCount();
    void handOver();

    Fdomain &m_window;
    Platform &m_platform;
    QLineEdit *m_lpattern = nullptr;
    QLabel *m_lcount = nullptr;
    QPlainTextEdit *m_lsample = nullptr;
    QPushButton *m_lok = nullptr;
    QPushButton *m_lcancel = nullptr;
    std::optional<KeywordPattern> m_pattern;  // the shown text's, when it parses
    QString m_error;                          // the shown text's, when it does not
    std::atomic<quint64> m_latest{0};         // the newest text's number
    quint64 m_shown = 0;                      // the number of the text shown
    bool m_handingOver = false;
    // Last, so that it is the first to go: it waits for a worker whose report
    // then still finds this object in place.
    QThreadPool m_work;
};

} // namespace norvale
