#include "norvale/core/data/Adodc1.h"

#include "norvale/core/data/ThreadConnections.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace norvale {

void Adodc1::setRecordSource(const QString &statement, const QVariantList &params)
{
    m_recordSource = statement;
    m_params = params;
}

void Adodc1::clearRecords()
{
    m_fields.clear();
    m_rows.clear();
    m_position = 0;
}

bool Adodc1::Refresh()
{
    clearRecords();
    m_error.clear();
    struct Records {
        QStringList fields;
        QList<QVariantList> rows;
    };
    // The work may outlive this call (a database that stops answering), so
    // it takes copies and hands the records back whole.
    std::optional<Records> read = onThreadConnection<Records>(
        m_connectionString, &m_error,
        [statement = m_recordSource, params = m_params, maxRecords = m_maxRecords](
            QSqlDatabase &db, QString *error) -> std::optional<Records> {
            QSqlQuery query(db);
            if (!runStatement(query, statement, params, error))
                return std::nullopt;
            Records records;
            const QSqlRecord record = query.record();
            for (int i = 0; i < record.count(); ++i)
                records.fields.append(record.fieldName(i));
            while ((maxRecords <= 0 || records.rows.size() < maxRecords) && query.next()) {
                QVariantList row;
                row.reserve(records.fields.size());
                for (int i = 0; i < records.fields.size(); ++i)
                    row.append(query.value(i));
                records.rows.append(row);
            }
            if (query.lastError().isValid()) {
                *error = query.lastError().text();
                return std::nullopt;
            }
            return records;
        });
    if (!read)
        return false;
    m_fields = std::move(read->fields);
    m_rows = std::move(read->rows);
    m_error.clear();
    return true;
}

void Adodc1::MoveFirst()
{
    m_position = 0;
}

void Adodc1::MoveNext()
{
    Move(1);
}

void Adodc1::Move(int n)
{
    if (m_rows.isEmpty())
        return;
    m_position = qBound<qsizetype>(-1, m_position + n, m_rows.size());
}

bool Adodc1::hasField(const QString &name) const
{
    for (const QString &field : m_fields) {
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QVariant Adodc1::rawValue(const QString &name) const
{
    if (bof() || eof())
        return {};
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return m_rows.at(m_position).at(i);
    }
    return {};
}

QString Adodc1::value(const QString &name) const
{
    const QVariant v = rawValue(name);
    return v.isNull() ? QString() : v.toString();
}

} // namespace norvale
