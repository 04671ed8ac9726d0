#include "services/DataTransfer.h"

#include "services/registry/RegistryDirectory.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringDecoder>

#include <cmath>
#include <functional>

namespace norvale {

namespace {

constexpr qint64 kMostFileBytes = qint64(512) << 20;
constexpr qsizetype kMostValue = 4096;

struct Table {
    const char *word;    // as the command line names it
    QString name;
    QStringList columns;
    QStringList required;
    QStringList key;     // what a merged row replaces by
};

const QList<Table> &tables()
{
    static const QList<Table> all{
        {"prices", QStringLiteral("ldomainprice"),
         {QStringLiteral("lextendkind"), QStringLiteral("lextend"), QStringLiteral("lprice")},
         {QStringLiteral("lextendkind"), QStringLiteral("lextend"), QStringLiteral("lprice")},
         {QStringLiteral("lextendkind"), QStringLiteral("lextend")}},
        {"filings", QStringLiteral("ldomainlist"),
         {QStringLiteral("lname"), QStringLiteral("lextend"), QStringLiteral("lallname"), QStringLiteral("lbackweb"),
          QStringLiteral("lback"), QStringLiteral("lbacktime"), QStringLiteral("lbackhost"),
          QStringLiteral("lbackhostkind"), QStringLiteral("lbackname")},
         {QStringLiteral("lname"), QStringLiteral("lextend"), QStringLiteral("lallname")},
         {QStringLiteral("lallname")}},
        {"registered", QStringLiteral("svc_registered"), {QStringLiteral("ldomain")}, {QStringLiteral("ldomain")},
         {QStringLiteral("ldomain")}},
    };
    return all;
}

const Table *tableNamed(const QString &word)
{
    for (const Table &table : tables()) {
        if (word == QLatin1StringView(table.word) || word == table.name)
            return &table;
    }
    return nullptr;
}

// ".com", ".com.cn", ".中国": a zone with its leading dot.
bool isZone(const QString &text)
{
    return text.size() > 1 && text.startsWith(u'.') && !asciiDomain(QStringLiteral("x") + text).isEmpty();
}

// What is wrong with one row of table (its values by column); empty when nothing.
QString rowFault(const Table &table, const QHash<QString, QString> &row)
{
    for (const QString &column : table.required) {
        if (row.value(column).isEmpty())
            return column + QStringLiteral(" is empty");
    }
    if (table.name == QLatin1StringView("ldomainprice")) {
        if (!isZone(row.value(QStringLiteral("lextendkind"))))
            return QStringLiteral("lextendkind is no extension kind such as .com: ") + row.value(QStringLiteral("lextendkind"));
        if (!isZone(row.value(QStringLiteral("lextend"))))
            return QStringLiteral("lextend is no extension such as .com.cn: ") + row.value(QStringLiteral("lextend"));
        bool number = false;
        const double price = row.value(QStringLiteral("lprice")).toDouble(&number);
        if (!number || !std::isfinite(price) || price < 0)
            return QStringLiteral("lprice is not a number: ") + row.value(QStringLiteral("lprice"));
    } else if (table.name == QLatin1StringView("ldomainlist")) {
        const QString all = asciiDomain(row.value(QStringLiteral("lallname")));
        if (all.isEmpty())
            return QStringLiteral("lallname is not a host name: ") + row.value(QStringLiteral("lallname"));
        if (!isZone(row.value(QStringLiteral("lextend"))))
            return QStringLiteral("lextend is no extension such as .com.cn: ") + row.value(QStringLiteral("lextend"));
        if (asciiDomain(row.value(QStringLiteral("lname")) + row.value(QStringLiteral("lextend"))) != all)
            return QStringLiteral("lallname is not lname followed by lextend");
        if (row.contains(QStringLiteral("lback")) && row.value(QStringLiteral("lback")).isEmpty())
            return QStringLiteral("lback, the filing number, is empty");
    } else if (asciiDomain(row.value(QStringLiteral("ldomain"))).isEmpty()) {
        return QStringLiteral("ldomain is not a host name: ") + row.value(QStringLiteral("ldomain"));
    }
    return {};
}

bool refuse(QString *error, const QString &why)
{
    *error = why;
    return false;
}

QString at(const CsvRecord &record)
{
    return QStringLiteral("line ") + QString::number(record.line) + QStringLiteral(": ");
}

// Runs work in one transaction on a writable connection of its own.
bool inTransaction(const ServiceStore &store, QString *error, const std::function<bool(QSqlDatabase &)> &work)
{
    const QString name = QStringLiteral("norvale-services-transfer");
    bool ok = false;
    {
        QSqlDatabase db = store.addConnection(name, false);
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            ok = db.transaction() && work(db);
            if (ok && !db.commit())
                ok = false;
            if (!ok) {
                if (error->isEmpty())
                    *error = db.lastError().text();
                db.rollback();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool importFile(const ServiceStore &store, const Table &table, const DataCommand &command, QString *done,
                QString *error)
{
    QFile file(command.file);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + command.file + QStringLiteral(": ") + file.errorString();
        return false;
    }
    if (file.size() > kMostFileBytes) {
        *error = command.file + QStringLiteral(" is larger than 512 MiB");
        return false;
    }
    QList<CsvRecord> records;
    if (!parseCsv(file.readAll(), &records, error)) {
        *error = command.file + u' ' + *error;
        return false;
    }
    if (records.isEmpty()) {
        *error = command.file + QStringLiteral(" has no header row; it must name the columns: ")
                 + table.columns.join(u',');
        return false;
    }

    // The header names the table's own columns, each once, the required ones among them.
    const CsvRecord &header = records.first();
    QStringList columns;
    for (const QString &field : header.fields) {
        const QString column = field.trimmed().toLower();
        if (!table.columns.contains(column))
            return refuse(error, command.file + u' ' + at(header) + QStringLiteral("no column of ") + table.name
                            + QStringLiteral(": ") + field + QStringLiteral(" (its columns: ")
                            + table.columns.join(u',') + u')');
        if (columns.contains(column))
            return refuse(error, command.file + u' ' + at(header) + column + QStringLiteral(" named twice"));
        columns << column;
    }
    for (const QString &column : table.required) {
        if (!columns.contains(column))
            return refuse(error, command.file + u' ' + at(header) + QStringLiteral("the column ") + column
                            + QStringLiteral(" is missing"));
    }

    // Every row checked before anything is written.
    QList<QHash<QString, QString>> rows;
    QHash<QString, int> keys;   // a row's key -> its line
    for (qsizetype i = 1; i < records.size(); ++i) {
        const CsvRecord &record = records.at(i);
        const QString where = command.file + u' ' + at(record);
        if (record.fields.size() != columns.size())
            return refuse(error, where + QString::number(record.fields.size()) + QStringLiteral(" fields where the header has ")
                            + QString::number(columns.size()));
        QHash<QString, QString> row;
        for (qsizetype c = 0; c < columns.size(); ++c) {
            const QString value = record.fields.at(c).trimmed();
            if (value.size() > kMostValue)
                return refuse(error, where + columns.at(c) + QStringLiteral(" is longer than 4096 characters"));
            row.insert(columns.at(c), value);
        }
        const QString fault = rowFault(table, row);
        if (!fault.isEmpty())
            return refuse(error, where + fault);
        QStringList keyParts;
        // Names and extensions compare in their ASCII form, without letter case.
        for (const QString &column : table.key) {
            const QString value = row.value(column);
            keyParts << (value.startsWith(u'.') ? asciiDomain(QStringLiteral("x") + value) : asciiDomain(value));
        }
        const QString key = keyParts.join(u' ');
        if (keys.contains(key))
            return refuse(error, where + QStringLiteral("the same ") + table.key.join(QStringLiteral(" and "))
                            + QStringLiteral(" as line ") + QString::number(keys.value(key)));
        keys.insert(key, record.line);
        rows << row;
    }

    const bool applied = inTransaction(store, error, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (command.replace && !query.exec(QStringLiteral("DELETE FROM ") + table.name))
            return refuse(error, query.lastError().text());
        QStringList conditions;
        for (const QString &column : table.key)
            conditions << column + QStringLiteral(" = ?");
        QSqlQuery remove(db);
        if (!command.replace)
            remove.prepare(QStringLiteral("DELETE FROM ") + table.name + QStringLiteral(" WHERE ")
                           + conditions.join(QStringLiteral(" AND ")));
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO ") + table.name + QStringLiteral(" (") + columns.join(u',')
                       + QStringLiteral(") VALUES (") + QStringList(columns.size(), QStringLiteral("?")).join(u',')
                       + u')');
        for (const auto &row : std::as_const(rows)) {
            if (!command.replace) {
                for (const QString &column : table.key)
                    remove.addBindValue(row.value(column));
                if (!remove.exec())
                    return refuse(error, remove.lastError().text());
            }
            // An empty value is text, never NULL.
            for (const QString &column : std::as_const(columns))
                insert.addBindValue(row.value(column).isNull() ? QStringLiteral("") : row.value(column));
            if (!insert.exec())
                return refuse(error, insert.lastError().text());
        }
        return true;
    });
    if (!applied) {
        *error = QStringLiteral("nothing imported: ") + *error;
        return false;
    }
    *done = QString::number(rows.size()) + QStringLiteral(" rows ") + (command.replace ? QStringLiteral("replace the rows of ")
                                                                                         : QStringLiteral("merged into "))
            + table.name;
    return true;
}

QString csvField(const QString &value)
{
    const bool plain = !value.contains(u',') && !value.contains(u'"') && !value.contains(u'\n')
                       && !value.contains(u'\r') && value.trimmed() == value;
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

bool exportTable(const ServiceStore &store, const Table &table, const DataCommand &command, QString *done,
                 QString *error)
{
    // With a byte-order mark, so that a spreadsheet reads it as UTF-8; CRLF as RFC 4180 has it.
    QByteArray out("\xEF\xBB\xBF");
    out += table.columns.join(u',').toUtf8() + "\r\n";
    qsizetype count = 0;
    const QString name = QStringLiteral("norvale-services-export");
    bool ok = false;
    {
        QSqlDatabase db = store.addConnection(name, true);
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            ok = query.exec(QStringLiteral("SELECT ") + table.columns.join(u',') + QStringLiteral(" FROM ")
                            + table.name + QStringLiteral(" ORDER BY rowid"));
            if (!ok)
                *error = query.lastError().text();
            while (ok && query.next()) {
                QStringList fields;
                for (int c = 0; c < table.columns.size(); ++c)
                    fields << csvField(query.value(c).toString());
                out += fields.join(u',').toUtf8() + "\r\n";
                ++count;
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!ok)
        return false;
    QSaveFile file(command.file);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        *error = QStringLiteral("cannot write ") + command.file + QStringLiteral(": ") + file.errorString();
        return false;
    }
    *done = QString::number(count) + QStringLiteral(" rows of ") + table.name + QStringLiteral(" written to ")
            + command.file;
    return true;
}

} // namespace

QString dataCommandUsage()
{
    return QStringLiteral(
        "       norvale-services [--db PATH|postgresql://…] import prices|filings|registered FILE [--replace]\n"
        "       norvale-services [--db PATH|postgresql://…] export prices|filings|registered FILE\n"
        "  import: CSV in UTF-8 or GBK, a header row naming the table's columns; every row is checked and\n"
        "          a bad file refused whole; merged by default (a row replaces the one with its key),\n"
        "          --replace: the file's rows become the table's\n");
}

bool takeDataCommand(QStringList *arguments, std::optional<DataCommand> *command, QString *error)
{
    QStringList words;
    QStringList rest;
    bool replace = false;
    bool merge = false;
    for (qsizetype i = 0; i < arguments->size(); ++i) {
        const QString &argument = arguments->at(i);
        if (argument == QLatin1StringView("--replace")) {
            replace = true;
        } else if (argument == QLatin1StringView("--merge")) {
            merge = true;
        } else if (argument.startsWith(u'-')) {
            rest << argument;
            // Every option but --help takes a value, after = or as the next word.
            const bool valued = argument != QLatin1StringView("--help") && argument != QLatin1StringView("-h")
                                && !argument.contains(u'=');
            if (valued && i + 1 < arguments->size())
                rest << arguments->at(++i);
        } else {
            words << argument;
        }
    }
    if (words.isEmpty() || (words.first() != QLatin1StringView("import") && words.first() != QLatin1StringView("export"))) {
        if (replace || merge) {
            *error = QStringLiteral("--replace and --merge go with import");
            return false;
        }
        return true;   // no data command; the words are the options' business
    }
    DataCommand parsed;
    parsed.import = words.first() == QLatin1StringView("import");
    const Table *table = words.size() == 3 ? tableNamed(words.at(1)) : nullptr;
    if (!table) {
        *error = words.first() + QStringLiteral(" wants a table (prices, filings or registered) and a file");
        return false;
    }
    if (replace && merge) {
        *error = QStringLiteral("--replace or --merge, not both");
        return false;
    }
    if (!parsed.import && (replace || merge)) {
        *error = QStringLiteral("--replace and --merge go with import");
        return false;
    }
    parsed.table = table->name;
    parsed.file = words.at(2);
    parsed.replace = replace;
    *command = parsed;
    *arguments = rest;
    return true;
}

bool parseCsv(const QByteArray &bytes, QList<CsvRecord> *records, QString *error)
{
    QString text;
    {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = utf8.decode(bytes);
        if (utf8.hasError()) {
            QStringDecoder gbk("GB18030");
            text = gbk.decode(bytes);
            if (!gbk.isValid() || gbk.hasError()) {
                *error = QStringLiteral("is neither UTF-8 nor GBK text");
                return false;
            }
        }
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    records->clear();
    CsvRecord record;
    QString field;
    bool quoted = false;       // inside a quoted field
    bool wasQuoted = false;    // the field so far was quoted
    int line = 1;
    record.line = 1;
    auto endField = [&] {
        record.fields << field;
        field.clear();
        wasQuoted = false;
    };
    auto endRecord = [&] {
        endField();
        const bool blank = record.fields.size() == 1 && record.fields.first().trimmed().isEmpty();
        if (!blank)
            records->append(record);
        record = CsvRecord();
        record.line = line;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text.at(i + 1) == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n')
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == u'"') {
            if (wasQuoted || !field.trimmed().isEmpty()) {
                *error = QStringLiteral("line ") + QString::number(line) + QStringLiteral(": a quote inside an unquoted field");
                return false;
            }
            field.clear();
            quoted = wasQuoted = true;
        } else if (c == u',') {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            ++line;
            endRecord();
        } else if (wasQuoted && !c.isSpace()) {
            *error = QStringLiteral("line ") + QString::number(line) + QStringLiteral(": text after a closing quote");
            return false;
        } else if (!wasQuoted) {
            field += c;
        }
    }
    if (quoted) {
        *error = QStringLiteral("line ") + QString::number(record.line) + QStringLiteral(": a quoted field never closes");
        return false;
    }
    endRecord();
    return true;
}

bool runDataCommand(const ServiceStore &store, const DataCommand &command, QString *done, QString *error)
{
    const Table *table = tableNamed(command.table);
    if (!table) {
        *error = QStringLiteral("no such table: ") + command.table;
        return false;
    }
    return command.import ? importFile(store, *table, command, done, error)
                          : exportTable(store, *table, command, done, error);
}

} // namespace norvale
