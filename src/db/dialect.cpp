#include "db/dialect.h"

#include "schema_sql.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlField>

namespace velmar {

namespace {

struct Table
{
    QString name;
    QStringList columns;
    QStringList definitions; // each column as schema.sql writes it: "net_payment REAL"
};

// The tables as schema.sql creates them.
const QList<Table>& schemaTables()
{
    static const QList<Table> tables = [] {
        QList<Table> result;
        static const QRegularExpression create(QStringLiteral(R"(CREATE\s+TABLE\s+(\w+)\s*\((.*)\))"),
                                               QRegularExpression::CaseInsensitiveOption |
                                                   QRegularExpression::DotMatchesEverythingOption);
        for (const QString& statement : QString::fromUtf8(kSchemaSql).split(u';')) {
            const QRegularExpressionMatch m = create.match(statement);
            if (!m.hasMatch())
                continue;
            Table table{m.captured(1), {}, {}};
            for (const QString& line : m.captured(2).split(u',')) {
                const QString column = line.trimmed().section(u' ', 0, 0);
                // "decimal(10,2)" splits at its comma too; the part after it names no column.
                if (!column.isEmpty() && column.front().isLetter()) {
                    table.columns.append(column);
                    table.definitions.append(line.trimmed());
                }
            }
            result.append(table);
        }
        return result;
    }();
    return tables;
}

// Tables that statements sort in stored order: a server keeps that order in a column of its own.
bool sortedAsStored(const QString& table)
{
    return table == u"Headers" || table == u"FileNames";
}

// Names collate as in SQLite's NAMEORDER: English, letters only (no case, no accents), and names
// that compare equal are left to the statement's next key.
const char kServerNameOrder[] =
    "CREATE COLLATION IF NOT EXISTS nameorder (provider = icu, locale = 'en-GB-u-ks-level1', deterministic = false)";

QString forServer(QString statement)
{
    static const QRegularExpression real(QStringLiteral(R"(\bREAL\b|\bdecimal\(10,2\))"),
                                         QRegularExpression::CaseInsensitiveOption);
    statement.replace(real, QStringLiteral("double precision"));
    static const QRegularExpression blob(QStringLiteral(R"(\bBLOB\b)"), QRegularExpression::CaseInsensitiveOption);
    statement.replace(blob, QStringLiteral("bytea"));
    // Texts compare and sort by their characters' codes, as in SQLite, whatever the database's
    // own locale.
    static const QRegularExpression text(QStringLiteral(R"(\bTEXT\b)"), QRegularExpression::CaseInsensitiveOption);
    statement.replace(text, QStringLiteral("text COLLATE \"C\""));
    static const QRegularExpression create(QStringLiteral(R"(^\s*CREATE\s+TABLE\s+(\w+))"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = create.match(statement);
    if (m.hasMatch() && sortedAsStored(m.captured(1))) {
        const qsizetype close = statement.lastIndexOf(u')');
        statement.insert(close, QStringLiteral(",\n  rowid bigint GENERATED ALWAYS AS IDENTITY\n"));
    }
    return statement;
}

} // namespace

Dialect DialectOf(const QSqlDatabase& db)
{
    return db.driverName() == u"QPSQL" ? Dialect::PostgreSQL : Dialect::SQLite;
}

QStringList BeginWriting(Dialect dialect)
{
    if (dialect == Dialect::SQLite)
        return {QStringLiteral("BEGIN IMMEDIATE")};
    // What BEGIN IMMEDIATE is to SQLite: writers queue for one lock, readers go on. The number
    // is this program's own; a transaction-scoped lock goes with COMMIT or ROLLBACK.
    return {QStringLiteral("BEGIN"), QStringLiteral("SELECT pg_advisory_xact_lock(7350297)")};
}

QStringList SchemaStatements(Dialect dialect)
{
    QStringList statements;
    if (dialect == Dialect::PostgreSQL)
        statements.append(QString::fromUtf8(kServerNameOrder));
    for (const QString& statement : QString::fromUtf8(kSchemaSql).split(u';', Qt::SkipEmptyParts)) {
        if (statement.trimmed().isEmpty())
            continue;
        statements.append(dialect == Dialect::PostgreSQL ? forServer(statement.trimmed()) : statement.trimmed());
    }
    return statements;
}

QStringList UpgradeSteps(Dialect dialect)
{
    const QString type =
        dialect == Dialect::SQLite ? QStringLiteral("decimal(10,2)") : QStringLiteral("double precision");
    return {
        QStringLiteral("ALTER TABLE Details ADD COLUMN superfee %1 default 0").arg(type),
        QStringLiteral("ALTER TABLE Details ADD COLUMN nonsuperfee %1 default 0").arg(type),
        // 60.0: integer division would drop part-hours of the adjustment.
        QStringLiteral("Update Details set superfee = (Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0))"),
        QStringLiteral("Update Details set nonsuperfee = 0.0"),
    };
}

QString UtcNowExpression(Dialect dialect)
{
    if (dialect == Dialect::SQLite)
        return QStringLiteral("strftime('%Y-%m-%dT%H:%M:%fZ', 'now')");
    return QStringLiteral("to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')");
}

bool UpgradeAddsTable(const QString& table)
{
    return table == u"SendLog" || table == u"SendClaims" || table.startsWith(u"History");
}

QStringList TableStatements(Dialect dialect, const QString& table)
{
    static const QRegularExpression target(
        QStringLiteral(R"(^CREATE\s+(?:UNIQUE\s+)?(?:TABLE|INDEX\s+\w+\s+ON)\s+(\w+))"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList statements = SchemaStatements(dialect);
    statements.removeIf([&](const QString& statement) { return target.match(statement).captured(1) != table; });
    return statements;
}

QString AddColumnStatement(Dialect dialect, const QString& table, const QString& column)
{
    for (const Table& t : schemaTables()) {
        const qsizetype i = t.columns.indexOf(column);
        if (t.name != table || i < 0)
            continue;
        const QString statement = QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(table, t.definitions.at(i));
        return dialect == Dialect::PostgreSQL ? forServer(statement) : statement;
    }
    return QString();
}

QStringList TableNames()
{
    QStringList names;
    for (const Table& t : schemaTables())
        names.append(t.name);
    return names;
}

QStringList DataSetTables()
{
    QStringList names = TableNames();
    names.removeIf([](const QString& table) { return table.startsWith(u"History") || table == u"SendClaims"; });
    return names;
}

QStringList TableColumns(const QString& table)
{
    for (const Table& t : schemaTables())
        if (t.name.compare(table, Qt::CaseInsensitive) == 0)
            return t.columns;
    return {};
}

void SpellColumnsAsWritten(QSqlRecord* record, const QString& statement)
{
    // Each word's first spelling, so that no pattern is made per column: every doctor of a data set
    // is read with a statement of its own.
    const auto firstSpellings = [](const QStringList& words) {
        QHash<QString, QString> spelling;
        for (const QString& word : words) {
            const QString key = word.toCaseFolded();
            if (!spelling.contains(key))
                spelling.insert(key, word);
        }
        return spelling;
    };
    static const QHash<QString, QString> schemaSpelling = [&] {
        QStringList columns;
        for (const Table& t : schemaTables())
            columns += t.columns;
        return firstSpellings(columns);
    }();
    static const QRegularExpression wordPattern(QStringLiteral("\\w+"));
    QStringList words;
    for (const QRegularExpressionMatch& m : wordPattern.globalMatch(statement))
        words.append(m.captured(0));
    const QHash<QString, QString> written = firstSpellings(words);
    for (int i = 0; i < record->count(); ++i) {
        const QString name = record->fieldName(i);
        QString spelling;
        if (wordPattern.match(name).capturedLength() == name.size()) {
            spelling = written.value(name.toCaseFolded());
        } else {
            // A name that is no single word ("count(*)") is looked for as it stands.
            const QRegularExpression word(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(name)),
                                          QRegularExpression::CaseInsensitiveOption);
            spelling = word.match(statement).captured(0);
        }
        if (spelling.isEmpty())
            spelling = schemaSpelling.value(name.toCaseFolded());
        if (!spelling.isEmpty() && spelling != name) {
            QSqlField field = record->field(i);
            field.setName(spelling);
            record->replace(i, field);
        }
    }
}

QString ServerReason(const QString& text)
{
    constexpr auto unicode = QRegularExpression::UseUnicodePropertiesOption;
    // The statement quoted back with a caret under the fault ("LINE 1:", "ZEILE 1:") says nothing to a
    // clerk.
    static const QRegularExpression quoted(QStringLiteral(R"(\n\p{Lu}+ \d+:.*)"),
                                           unicode | QRegularExpression::DotMatchesEverythingOption);
    // libpq names the server before each attempt, and with sslmode prefer tries twice.
    static const QRegularExpression attempt(QStringLiteral(R"((?:^|\n)connection to server .*? failed: )"));
    // The severity in whatever language the server speaks: "ERROR:  ", "FEHLER:  ".
    static const QRegularExpression severity(QStringLiteral(R"(\b\p{Lu}{4,}:\s+)"), unicode);
    // The SQLSTATE Qt adds, or its empty brackets when there was none.
    static const QRegularExpression state(QStringLiteral(R"(\s*\(([0-9A-Z]{5})?\)\s*$)"));
    QStringList reasons;
    for (QString part : QString(text).remove(quoted).split(attempt, Qt::SkipEmptyParts)) {
        part = part.remove(severity).remove(state).simplified();
        // Each reason once.
        if (!part.isEmpty() && !reasons.contains(part))
            reasons.append(part);
    }
    return reasons.join(QStringLiteral("; "));
}

QString ServerReason(const QSqlError& error)
{
    return ServerReason(error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

} // namespace velmar
