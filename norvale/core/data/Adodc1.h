#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

namespace norvale {

// The data-source component a window runs its row queries through: a
// connection text, a record source (statement and bound values), Refresh,
// and a record set read in full at Refresh, so that the row count is exact
// and moving never touches the database. Used by one thread at a time;
// Refresh runs on the calling thread's connection.
class Adodc1 final {
public:
    void setConnectionString(const QString &text) { m_connectionString = text; }
    QString ConnectionString() const { return m_connectionString; }

    void setRecordSource(const QString &statement, const QVariantList &params = {});
    QString RecordSource() const { return m_recordSource; }
    // At most this many rows are read at Refresh; 0 reads them all.
    void setMaxRecords(int rows) { m_maxRecords = rows; }

    // Runs the record source. On success the record set stands on its first
    // row (or is at both ends when empty); on failure it is empty and
    // error() holds the database layer's message.
    bool Refresh();
    QString error() const { return m_error; }

    // The record set.
    int RecordCount() const { return int(m_rows.size()); }
    void MoveFirst();
    void MoveNext();
    // Relative to the current row; stops at the ends.
    void Move(int n);
    bool eof() const { return m_rows.isEmpty() || m_position >= m_rows.size(); }
    bool bof() const { return m_rows.isEmpty() || m_position < 0; }
    QStringList fieldNames() const { return m_fields; }
    bool hasField(const QString &name) const;
    // The current row's value of a column named without regard to case;
    // "" for NULL, an unknown column, or no current row.
    QString value(const QString &name) const;
    QVariant rawValue(const QString &name) const;

private:
    void clearRecords();

    QString m_connectionString;
    QString m_recordSource;
    QVariantList m_params;
    QString m_error;
    QStringList m_fields;
    QList<QVariantList> m_rows;
    qsizetype m_position = 0;
    int m_maxRecords = 0;
};

} // namespace norvale
