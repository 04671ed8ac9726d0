#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace norvale {

struct SearchRow;

// One result row as it leaves the program, by export, copy or the command
// line: the five columns the grid shows, and what its red cells say.
struct ResultRecord {
    QString domain;
    QString status;
    QString price;
    QString filing;
    QString address;
    bool free = false;   // the status is red: unregistered, offered at its price
    bool filed = false;  // the filing number is red: a filed domain

    friend bool operator==(const ResultRecord &, const ResultRecord &) = default;
};

// From the eight grid cells and the red bits of a row (bit c: cell c).
ResultRecord resultRecord(const QStringList &cells, quint32 redColumns);
ResultRecord resultRecord(const SearchRow &row);

enum class ResultFormat {
    Table,  // aligned columns for a terminal
    Csv,    // RFC 4180, CRLF line ends, with a header line
    Json,   // an array of objects, one per line
    Tsv,    // tab-separated, no header: what a spreadsheet takes from the clipboard
};

// Writes records one at a time, so that a caller can hand each row on as it
// comes; what begin(), row() and end() give, in that order, is the whole
// document. Text is UTF-8.
class ResultWriter final {
public:
    explicit ResultWriter(ResultFormat format, bool colour = false);

    // The byte-order mark a spreadsheet needs to read UTF-8 CSV as such.
    static QByteArray utf8Bom() { return QByteArrayLiteral("\xEF\xBB\xBF"); }

    QByteArray begin() const;
    QByteArray row(const ResultRecord &record);
    QByteArray end() const;
    // Rows go on after those an earlier writer wrote (a resumed file).
    void continueAfterRows() { m_first = false; }

    // A whole document at once.
    static QByteArray write(ResultFormat format, const QList<ResultRecord> &records);

private:
    ResultFormat m_format;
    bool m_colour;  // the table marks red cells with terminal colours
    bool m_first = true;
};

// The column headers of table, CSV and the grid: 域名地址, 注册状态, 拟售价,
// 备案号, IP, then 可注册 and 已备案 (CSV only).
const QStringList &resultHeaders();

// A spreadsheet reads a cell that begins with "=", "+", "-" or "@" as a
// formula: such a text (unless it is a plain number) gets a leading "'", as
// does one that begins with a tab or a carriage return.
QString spreadsheetSafe(const QString &text);

// Text for a terminal: a control character other than a line end or a tab
// shows as "\x1b" and the like, so that no text from a page or the database
// can drive the terminal (set its clipboard, clear it, retitle it). CR LF
// reads as a line end.
QString terminalText(const QString &text);

// One CSV field: made spreadsheet-safe, quoted when it holds a comma, a
// quote or a line break.
QString csvField(const QString &text);

// Columns a text takes in a terminal: East Asian wide characters count two.
int displayWidth(const QString &text);

} // namespace norvale
