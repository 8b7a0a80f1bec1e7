#include "history/history.h"

#include "core/prompter.h"
#include "core/textformat.h"
#include "db/clienthandles.h"
#include "db/database.h"
#include "db/dialect.h"
#include "db/reading.h"
#include "db/sqltransaction.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>

#include <functional>

#include <libpq-fe.h>
#include <openssl/evp.h>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace velmar::history {

namespace {

const QString kColumns = QStringLiteral(
    "entry, made_at, who, host, program, action, DataSet, id, recno, before_values, after_values, detail, hash");

QString compact(const QJsonObject& object)
{
    return object.isEmpty() ? QString() : QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject parsed(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The text the hash covers: every field but the hash, as stored.
QByteArray canonical(const Entry& e)
{
    const QJsonArray fields{e.number,
                            e.at.toUTC().toString(Qt::ISODateWithMs),
                            e.who,
                            e.host,
                            e.program,
                            e.action,
                            e.dataSet,
                            e.doctor,
                            e.recno.isNull() ? QJsonValue() : QJsonValue(e.recno.toLongLong()),
                            compact(e.before),
                            compact(e.after),
                            compact(e.detail)};
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

QString chained(const QString& previous, const Entry& e)
{
    return Sha256Hex(previous.toLatin1() + '\n' + canonical(e));
}

QString loginName()
{
    if (const passwd* user = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return qEnvironmentVariable("USER");
}

QString who(const QSqlDatabase& db)
{
    const QString login = loginName();
    if (const pg_conn* connection = DialectOf(db) == Dialect::PostgreSQL ? ServerHandle(db) : nullptr)
        return QStringLiteral("%1 (database user %2)").arg(login, QString::fromUtf8(PQuser(connection)));
    return login;
}

QString program()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (name.isEmpty())
        name = QStringLiteral("velmarpay");
    return name + u' ' + QStringLiteral(VELMAR_VERSION);
}

Entry entryFrom(const QSqlQuery& q)
{
    Entry e;
    e.number = q.value(0).toLongLong();
    e.at = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
    e.who = q.value(2).toString();
    e.host = q.value(3).toString();
    e.program = q.value(4).toString();
    e.action = q.value(5).toString();
    e.dataSet = q.value(6).toString();
    e.doctor = q.value(7).toString();
    e.recno = q.isNull(8) ? QVariant() : QVariant(q.value(8).toLongLong());
    e.before = parsed(q.value(9).toString());
    e.after = parsed(q.value(10).toString());
    e.detail = parsed(q.value(11).toString());
    e.hash = q.value(12).toString();
    return e;
}

QJsonValue jsonValue(const QVariant& v)
{
    if (v.isNull())
        return QJsonValue();
    switch (v.typeId()) {
    case QMetaType::Double:
        return v.toDouble();
    case QMetaType::Int:
    case QMetaType::LongLong:
        return v.toLongLong();
    default:
        return v.toString();
    }
}

// The shift record's stored values, by the schema's names; empty when it is not there.
bool readRecord(const QSqlDatabase& db, const QString& dataSet, int recno, QJsonObject* values, QString* error)
{
    const QStringList columns = TableColumns(QStringLiteral("Details"));
    ReadQuery read(db,
                   QStringLiteral("SELECT %1 FROM Details WHERE DataSet = ? AND recno = ?")
                       .arg(columns.join(QStringLiteral(", "))),
                   {dataSet, recno});
    *values = QJsonObject();
    const bool whole = read.forEachRow([&](const QSqlQuery& q) {
        for (int i = 0; i < columns.size(); ++i)
            values->insert(columns.at(i), jsonValue(q.value(i)));
    });
    if (!whole)
        *error = read.failure();
    return whole;
}

// The rows of the data set in each table's stored order, as a stream of typed values.
constexpr quint32 kDumpFormat = 1;
const char* const kDumpTables[] = {"FileNames", "Headers", "Details"};

QString storedOrder(const QString& table)
{
    return table == u"Details" ? QStringLiteral("recno") : QStringLiteral("rowid");
}

} // namespace

QString ActionName(Action action)
{
    switch (action) {
    case Action::Import:
        return QStringLiteral("import");
    case Action::Overwrite:
        return QStringLiteral("overwrite");
    case Action::Add:
        return QStringLiteral("add");
    case Action::Edit:
        return QStringLiteral("edit");
    case Action::Delete:
        return QStringLiteral("delete");
    case Action::Send:
        return QStringLiteral("send");
    case Action::Migrate:
        return QStringLiteral("migrate");
    case Action::Restore:
        return QStringLiteral("restore");
    case Action::PruneSent:
        return QStringLiteral("prune-sent");
    }
    return QString();
}

QString Sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool Append(const QSqlDatabase& db, Entry& entry, const QList<Kept>& kept, QString* error)
{
    QString previous;
    qint64 last = 0;
    ReadQuery head(db, QStringLiteral("SELECT entry, hash FROM History ORDER BY entry DESC LIMIT 1"));
    if (!head.forEachRow([&](const QSqlQuery& q) {
            last = q.value(0).toLongLong();
            previous = q.value(1).toString();
        })) {
        *error = head.failure();
        return false;
    }
    entry.number = last + 1;
    entry.at = QDateTime::currentDateTimeUtc();
    entry.who = who(db);
    entry.host = QSysInfo::machineHostName();
    entry.program = program();
    if (!kept.isEmpty()) {
        QJsonObject names = entry.detail.value(QStringLiteral("kept")).toObject();
        for (const Kept& k : kept)
            names.insert(k.name, Sha256Hex(k.bytes));
        entry.detail.insert(QStringLiteral("kept"), names);
    }
    entry.hash = chained(previous, entry);

    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO History (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(kColumns));
    for (const QVariant& v :
         QVariantList{entry.number, entry.at.toString(Qt::ISODateWithMs), entry.who, entry.host, entry.program,
                      entry.action, entry.dataSet, entry.doctor, entry.recno, compact(entry.before),
                      compact(entry.after), compact(entry.detail), entry.hash})
        q.addBindValue(v);
    if (!q.exec()) {
        *error = StatementFailure(db, q.lastError(), {QStringLiteral("INSERT INTO History")});
        return false;
    }
    QSqlQuery data(db);
    data.prepare(QStringLiteral("INSERT INTO HistoryData (entry, name, sha256, data) VALUES (?, ?, ?, ?)"));
    for (const Kept& k : kept) {
        data.addBindValue(entry.number);
        data.addBindValue(k.name);
        data.addBindValue(Sha256Hex(k.bytes));
        data.addBindValue(k.bytes);
        if (!data.exec()) {
            *error = StatementFailure(db, data.lastError(), {QStringLiteral("INSERT INTO HistoryData")});
            return false;
        }
    }
    return true;
}

QByteArray DumpDataSet(const QSqlDatabase& db, const QString& dataSet, QString* error)
{
    QByteArray raw;
    QDataStream out(&raw, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kDumpFormat;
    for (const char* name : kDumpTables) {
        const QString table = QString::fromLatin1(name);
        const QStringList columns = TableColumns(table);
        ReadQuery read(db,
                       QStringLiteral("SELECT %1 FROM %2 WHERE DataSet = ? ORDER BY %3")
                           .arg(columns.join(QStringLiteral(", ")), table, storedOrder(table)),
                       {dataSet});
        QList<QVariantList> rows;
        if (!read.forEachRow([&](const QSqlQuery& q) {
                QVariantList row;
                for (int i = 0; i < columns.size(); ++i)
                    row.append(q.isNull(i) ? QVariant() : q.value(i));
                rows.append(row);
            })) {
            *error = read.failure();
            return QByteArray();
        }
        out << table << columns << rows;
    }
    return qCompress(raw);
}

namespace {

// Replaces the data set's rows by those of a dump; a shift record whose number another data set
// took meanwhile is numbered anew after the largest. *renumbered: how many were.
bool loadDataSet(const QSqlDatabase& db, const QString& dataSet, const QByteArray& dump, int* renumbered,
                 QString* error)
{
    QDataStream in(qUncompress(dump));
    in.setVersion(QDataStream::Qt_6_0);
    quint32 format = 0;
    in >> format;
    if (format != kDumpFormat) {
        *error = QStringLiteral("The kept copy cannot be read");
        return false;
    }
    for (const char* name : kDumpTables) {
        QSqlQuery del(db);
        del.prepare(QStringLiteral("DELETE FROM %1 WHERE DataSet = ?").arg(QLatin1String(name)));
        del.addBindValue(dataSet);
        if (!del.exec()) {
            *error = StatementFailure(db, del.lastError(), {del.lastQuery()});
            return false;
        }
    }
    *renumbered = 0;
    for (int t = 0; t < 3; ++t) {
        QString table;
        QStringList columns;
        QList<QVariantList> rows;
        in >> table >> columns >> rows;
        if (in.status() != QDataStream::Ok || table != QLatin1String(kDumpTables[t])) {
            *error = QStringLiteral("The kept copy cannot be read");
            return false;
        }
        const int recnoAt = columns.indexOf(QStringLiteral("recno"));
        qint64 next = 0;
        if (recnoAt >= 0) {
            ReadQuery largest(db, QStringLiteral("SELECT MAX(recno) FROM Details"));
            if (!largest.forEachRow([&](const QSqlQuery& q) { next = q.value(0).toLongLong() + 1; })) {
                *error = largest.failure();
                return false;
            }
        }
        QSqlQuery taken(db);
        taken.prepare(QStringLiteral("SELECT 1 FROM Details WHERE recno = ? LIMIT 1"));
        QSqlQuery insert(db);
        QStringList marks;
        for (qsizetype i = 0; i < columns.size(); ++i)
            marks.append(QStringLiteral("?"));
        insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                           .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
        for (QVariantList& row : rows) {
            if (recnoAt >= 0) {
                taken.addBindValue(row.at(recnoAt));
                if (!taken.exec()) {
                    *error = StatementFailure(db, taken.lastError(), {taken.lastQuery()});
                    return false;
                }
                if (taken.next()) {
                    row[recnoAt] = next++;
                    ++*renumbered;
                }
                taken.finish();
            }
            for (const QVariant& v : std::as_const(row))
                insert.addBindValue(v);
            if (!insert.exec()) {
                *error = StatementFailure(db, insert.lastError(), {insert.lastQuery()});
                return false;
            }
        }
    }
    return true;
}

// The one row a statement reads: *error says why when it cannot be read or there is none.
bool readOne(const QSqlDatabase& db, const QString& statement, const QVariantList& values,
             const std::function<void(const QSqlQuery&)>& take, const QString& missing, QString* error)
{
    ReadQuery read(db, statement, values);
    bool found = false;
    if (!read.forEachRow([&](const QSqlQuery& q) {
            take(q);
            found = true;
        })) {
        *error = read.failure();
        return false;
    }
    if (!found)
        *error = missing;
    return found;
}

bool keptBytes(const QSqlDatabase& db, qint64 number, const QString& name, QByteArray* bytes, QString* sha,
               QString* error)
{
    return readOne(
        db, QStringLiteral("SELECT data, sha256 FROM HistoryData WHERE entry = ? AND name = ?"), {number, name},
        [&](const QSqlQuery& q) {
            *bytes = q.value(0).toByteArray();
            *sha = q.value(1).toString();
        },
        QStringLiteral("History entry %1 keeps no %2").arg(number).arg(name), error);
}

bool readEntry(const QSqlDatabase& db, qint64 number, Entry* entry, QString* error)
{
    return readOne(
        db, QStringLiteral("SELECT %1 FROM History WHERE entry = ?").arg(kColumns), {number},
        [&](const QSqlQuery& q) { *entry = entryFrom(q); }, QStringLiteral("There is no history entry %1").arg(number),
        error);
}

} // namespace

bool KeepsDataSet(const Entry& entry)
{
    return entry.detail.value(QStringLiteral("kept")).toObject().contains(QLatin1String(kDataSetCopy));
}

int ChangeRecord(const QSqlDatabase& db, Action action, const QString& dataSet, int recno,
                 const std::function<QStringList(int recno)>& statement, Prompter& prompter, int* changed,
                 const QString& refusedText)
{
    if (changed)
        *changed = 0;
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        prompter.error(TransactionFailure(db, transaction));
        return -1;
    }
    if (recno < 0 && (recno = NextRecordNumber(db, prompter)) < 0)
        return -1;
    QString error;
    Entry entry;
    if (!readRecord(db, dataSet, recno, &entry.before, &error)) {
        prompter.error(error);
        return -1;
    }
    const QStringList lines = statement(recno);
    QSqlQuery q(db);
    if (!q.exec(lines.join(u'\n'))) {
        const QString trouble = DatabaseTrouble(db, q.lastError(), lines.join(u'\n'));
        prompter.error(!trouble.isEmpty() || refusedText.isEmpty() ? StatementFailure(db, q.lastError(), lines)
                                                                   : refusedText.arg(StatementText(lines)));
        return -1;
    }
    const int rows = q.numRowsAffected();
    if (changed)
        *changed = rows;
    if (rows == 0)
        return recno;
    if (!readRecord(db, dataSet, recno, &entry.after, &error)) {
        prompter.error(error);
        return -1;
    }
    entry.action = ActionName(action);
    entry.dataSet = dataSet;
    entry.doctor = (entry.after.isEmpty() ? entry.before : entry.after).value(QStringLiteral("id")).toString();
    if (action == Action::Edit) {
        for (const QString& column : entry.before.keys()) {
            if (entry.before.value(column) == entry.after.value(column)) {
                entry.before.remove(column);
                entry.after.remove(column);
            }
        }
    }
    entry.recno = recno;
    if (!Append(db, entry, {}, &error)) {
        prompter.error(error);
        return -1;
    }
    if (!transaction.commit()) {
        prompter.error(TransactionFailure(db, transaction));
        return -1;
    }
    return recno;
}

bool Restore(const QSqlDatabase& db, const QString& dataSet, qint64 number, QString* said, QString* error)
{
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        *error = TransactionFailure(db, transaction);
        return false;
    }
    Entry source;
    QByteArray dump;
    QString sha;
    if (!readEntry(db, number, &source, error))
        return false;
    if (source.dataSet != dataSet || !KeepsDataSet(source)) {
        *error = QStringLiteral("History entry %1 keeps no copy of the data set %2").arg(number).arg(dataSet);
        return false;
    }
    if (!keptBytes(db, number, QLatin1String(kDataSetCopy), &dump, &sha, error))
        return false;
    // A copy changed outside the program is not brought back.
    const QString recorded =
        source.detail.value(QStringLiteral("kept")).toObject().value(QLatin1String(kDataSetCopy)).toString();
    if (Sha256Hex(dump) != recorded || sha != recorded) {
        *error = QStringLiteral("History entry %1 does not match: it was changed or removed outside the program")
                     .arg(number);
        return false;
    }
    const QByteArray replaced = DumpDataSet(db, dataSet, error);
    if (replaced.isEmpty())
        return false;
    int renumbered = 0;
    if (!loadDataSet(db, dataSet, dump, &renumbered, error))
        return false;
    Entry entry;
    entry.action = ActionName(Action::Restore);
    entry.dataSet = dataSet;
    entry.detail.insert(QStringLiteral("from_entry"), number);
    if (renumbered > 0)
        entry.detail.insert(QStringLiteral("renumbered"), renumbered);
    if (!Append(db, entry, {Kept{QLatin1String(kDataSetCopy), replaced}}, error))
        return false;
    if (!transaction.commit()) {
        *error = TransactionFailure(db, transaction);
        return false;
    }
    *said =
        QStringLiteral("Restored %1 as history entry %2 kept it (entry %3)").arg(dataSet).arg(number).arg(entry.number);
    if (renumbered > 0)
        *said += QStringLiteral("; %1 shift records were numbered anew, as their numbers are in use").arg(renumbered);
    return true;
}

bool Verify(const QSqlDatabase& db, qint64* count, QString* last, qint64* broken, QString* error)
{
    const ReadSnapshot view(db);
    if (!view.isActive()) {
        *error = view.trouble();
        return false;
    }
    *count = 0;
    *broken = 0;
    last->clear();
    struct Keeping
    {
        QJsonObject names;
        QString madeAt;
    };
    QHash<qint64, Keeping> keptOf;
    // Each prune-sent: its number and the date before which it dropped sent documents.
    QList<std::pair<qint64, QString>> prunes;
    ReadQuery read(db, QStringLiteral("SELECT %1 FROM History ORDER BY entry").arg(kColumns));
    if (!read.forEachRow([&](const QSqlQuery& q) {
            if (*broken)
                return;
            const Entry e = entryFrom(q);
            ++*count;
            if (e.number != *count || chained(*last, e) != e.hash)
                *broken = *count;
            const QJsonObject names = e.detail.value(QStringLiteral("kept")).toObject();
            if (!names.isEmpty())
                keptOf.insert(e.number, Keeping{names, q.value(1).toString()});
            if (e.action == u"prune-sent")
                prunes.append({e.number, e.detail.value(QStringLiteral("before")).toString()});
            *last = e.hash;
        })) {
        *error = read.failure();
        return false;
    }
    if (*broken)
        return true;
    ReadQuery data(db, QStringLiteral("SELECT entry, name, sha256, data FROM HistoryData ORDER BY entry"));
    if (!data.forEachRow([&](const QSqlQuery& q) {
            const qint64 number = q.value(0).toLongLong();
            Keeping& keeping = keptOf[number];
            const QString name = q.value(1).toString();
            const QString recorded = keeping.names.value(name).toString();
            keeping.names.remove(name);
            const QString sha = Sha256Hex(q.value(3).toByteArray());
            if ((recorded.isEmpty() || recorded != sha || q.value(2).toString() != sha) &&
                (*broken == 0 || number < *broken))
                *broken = number;
        })) {
        *error = data.failure();
        return false;
    }
    // Bytes an entry names but nobody kept: only a later prune-sent drops any, and only a send's.
    for (auto k = keptOf.cbegin(); k != keptOf.cend(); ++k) {
        for (const QString& name : k->names.keys()) {
            const bool pruned = name != QLatin1String(kDataSetCopy) &&
                                std::any_of(prunes.cbegin(), prunes.cend(), [&](const auto& prune) {
                                    return prune.first > k.key() && k->madeAt < prune.second;
                                });
            if (!pruned && (*broken == 0 || k.key() < *broken))
                *broken = k.key();
        }
    }
    return true;
}

bool Head(const QSqlDatabase& db, qint64* count, QString* last, QString* error)
{
    ReadQuery read(db, QStringLiteral("SELECT entry, hash FROM History ORDER BY entry DESC LIMIT 1"));
    *count = 0;
    last->clear();
    if (!read.forEachRow([&](const QSqlQuery& q) {
            *count = q.value(0).toLongLong();
            *last = q.value(1).toString();
        })) {
        *error = read.failure();
        return false;
    }
    return true;
}

bool Read(const QSqlDatabase& db, const Filter& filter, QList<Entry>* entries, QString* error)
{
    QStringList where;
    QVariantList values;
    if (!filter.dataSet.isEmpty()) {
        where.append(QStringLiteral("DataSet = ?"));
        values.append(filter.dataSet);
    }
    if (!filter.doctor.isEmpty()) {
        where.append(QStringLiteral("id = ?"));
        values.append(filter.doctor);
    }
    if (filter.since.isValid()) {
        where.append(QStringLiteral("made_at >= ?"));
        values.append(filter.since.toString(Qt::ISODate));
    }
    ReadQuery read(db,
                   QStringLiteral("SELECT %1 FROM History %2 ORDER BY entry")
                       .arg(kColumns, where.isEmpty() ? QString()
                                                      : QStringLiteral("WHERE ") + where.join(QStringLiteral(" AND "))),
                   values);
    entries->clear();
    if (!read.forEachRow([&](const QSqlQuery& q) { entries->append(entryFrom(q)); })) {
        *error = read.failure();
        return false;
    }
    return true;
}

namespace {

QString shown(const QString& column, const QJsonValue& v)
{
    static const QStringList money{QStringLiteral("Rate"),           QStringLiteral("Total"),
                                   QStringLiteral("AdjustmentRate"), QStringLiteral("superfee"),
                                   QStringLiteral("nonsuperfee"),    QStringLiteral("annuity")};
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("(none)");
    if (v.isDouble())
        return money.contains(column) ? FormatMoney(v.toDouble()) : QString::number(v.toDouble(), 'g', 17);
    return u'\'' + v.toString() + u'\'';
}

QString values(const QJsonObject& row)
{
    QStringList parts;
    for (const QString& column : TableColumns(QStringLiteral("Details")))
        if (row.contains(column) && column != u"DataSet" && column != u"id" && column != u"recno")
            parts.append(column + u' ' + shown(column, row.value(column)));
    return parts.join(QStringLiteral("; "));
}

} // namespace

QString Describe(const Entry& e)
{
    const QJsonObject& d = e.detail;
    if (e.action == u"edit") {
        QStringList parts;
        for (const QString& column : TableColumns(QStringLiteral("Details")))
            if (e.after.contains(column))
                parts.append(
                    QStringLiteral("%1 %2 → %3")
                        .arg(column, shown(column, e.before.value(column)), shown(column, e.after.value(column))));
        return parts.join(QStringLiteral("; "));
    }
    if (e.action == u"add")
        return QStringLiteral("added: ") + values(e.after);
    if (e.action == u"delete")
        return QStringLiteral("deleted: ") + values(e.before);
    if (e.action == u"import" || e.action == u"overwrite")
        return QStringLiteral("%1 (%2 bytes, SHA-256 %3): %4 doctors, %5 shift records%6")
            .arg(d.value(QStringLiteral("file")).toString())
            .arg(d.value(QStringLiteral("size")).toInteger())
            .arg(d.value(QStringLiteral("sha256")).toString().left(12))
            .arg(d.value(QStringLiteral("doctors")).toInteger())
            .arg(d.value(QStringLiteral("shifts")).toInteger())
            .arg(e.action == u"overwrite" ? QStringLiteral("; the replaced data set is kept") : QString());
    if (e.action == u"restore")
        return QStringLiteral("brought back as entry %1 kept it; what it replaced is kept")
            .arg(d.value(QStringLiteral("from_entry")).toInteger());
    if (e.action == u"send")
        return QStringLiteral("attempt %1 %2 to %3: %4")
            .arg(d.value(QStringLiteral("attempt")).toInteger())
            .arg(d.value(QStringLiteral("outcome")).toString(), d.value(QStringLiteral("address")).toString(),
                 d.value(QStringLiteral("attachments")).toString());
    if (e.action == u"migrate")
        return QStringLiteral("copied from %1: %2")
            .arg(d.value(QStringLiteral("from")).toString(), d.value(QStringLiteral("datasets")).toString());
    if (e.action == u"prune-sent")
        return QStringLiteral("sent documents before %1 dropped: %2")
            .arg(d.value(QStringLiteral("before")).toString())
            .arg(d.value(QStringLiteral("dropped")).toInteger());
    return compact(d);
}

bool SentDocument(const QSqlDatabase& db, const QString& dataSet, const QString& doctor, qint64 attempt,
                  const QString& name, QByteArray* bytes, QString* error)
{
    QList<Entry> sends;
    if (!Read(db, Filter{dataSet, doctor, QDate()}, &sends, error))
        return false;
    for (auto e = sends.crbegin(); e != sends.crend(); ++e) {
        if (e->action != u"send" || (attempt > 0 && e->detail.value(QStringLiteral("attempt")).toInteger() != attempt))
            continue;
        const QString recorded = e->detail.value(QStringLiteral("kept")).toObject().value(name).toString();
        if (recorded.isEmpty()) {
            if (attempt == 0)
                continue;
            *error = QStringLiteral("Attempt %1 kept no %2 (only a message that went keeps its documents)")
                         .arg(attempt)
                         .arg(name);
            return false;
        }
        QString sha;
        if (!keptBytes(db, e->number, name, bytes, &sha, error)) {
            *error = QStringLiteral("The %1 sent in attempt %2 is no longer kept (prune-sent dropped it)")
                         .arg(name)
                         .arg(e->detail.value(QStringLiteral("attempt")).toInteger());
            return false;
        }
        if (Sha256Hex(*bytes) != recorded) {
            *error = QStringLiteral("History entry %1 does not match: it was changed or removed outside the program")
                         .arg(e->number);
            return false;
        }
        return true;
    }
    *error = attempt > 0
                 ? QStringLiteral("Doctor %1 has no attempt %2 in data set %3").arg(doctor).arg(attempt).arg(dataSet)
                 : QStringLiteral("Nothing sent to doctor %1 in data set %2 is kept").arg(doctor, dataSet);
    return false;
}

bool PruneSent(const QSqlDatabase& db, const QDate& before, int* dropped, QString* error)
{
    SqlTransaction transaction(db);
    if (!transaction.isActive()) {
        *error = TransactionFailure(db, transaction);
        return false;
    }
    const QString cutoff = before.toString(Qt::ISODate);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("DELETE FROM HistoryData WHERE name <> ? AND entry IN (SELECT entry FROM History WHERE "
                             "action = 'send' AND made_at < ?)"));
    q.addBindValue(QLatin1String(kDataSetCopy));
    q.addBindValue(cutoff);
    if (!q.exec()) {
        *error = StatementFailure(db, q.lastError(), {q.lastQuery()});
        return false;
    }
    *dropped = q.numRowsAffected();
    Entry entry;
    entry.action = ActionName(Action::PruneSent);
    entry.detail.insert(QStringLiteral("before"), cutoff);
    entry.detail.insert(QStringLiteral("dropped"), *dropped);
    if (!Append(db, entry, {}, error))
        return false;
    if (!transaction.commit()) {
        *error = TransactionFailure(db, transaction);
        return false;
    }
    return true;
}

HashingReader::HashingReader(QIODevice& source) : m_source(source), m_sha(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(m_sha, EVP_sha256(), nullptr);
    open(QIODevice::ReadOnly);
}

HashingReader::~HashingReader()
{
    EVP_MD_CTX_free(m_sha);
}

QString HashingReader::name() const
{
    const auto* file = qobject_cast<const QFile*>(&m_source);
    return file ? file->fileName() : QString();
}

QString HashingReader::sha256() const
{
    // Finished on a copy, so that reading may go on.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    EVP_MD_CTX_copy_ex(copy, m_sha);
    EVP_DigestFinal_ex(copy, digest, &size);
    EVP_MD_CTX_free(copy);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), size).toHex());
}

qint64 HashingReader::readData(char* data, qint64 maxSize)
{
    const qint64 got = m_source.read(data, maxSize);
    if (got > 0) {
        EVP_DigestUpdate(m_sha, data, size_t(got));
        m_read += got;
    }
    return got;
}

bool RecordImport(const QSqlDatabase& db, const QString& dataSet, const HashingReader& file, int doctors, int shifts,
                  const QByteArray& replaced, QString* error)
{
    Entry entry;
    entry.action = ActionName(replaced.isNull() ? Action::Import : Action::Overwrite);
    entry.dataSet = dataSet;
    entry.detail.insert(QStringLiteral("file"),
                        file.name().isEmpty() ? QStringLiteral("(standard input)") : QFileInfo(file.name()).fileName());
    entry.detail.insert(QStringLiteral("size"), file.bytesRead());
    entry.detail.insert(QStringLiteral("sha256"), file.sha256());
    entry.detail.insert(QStringLiteral("doctors"), doctors);
    entry.detail.insert(QStringLiteral("shifts"), shifts);
    QList<Kept> kept;
    if (!replaced.isNull())
        kept.append(Kept{QLatin1String(kDataSetCopy), replaced});
    return Append(db, entry, kept, error);
}

bool RecordMigration(const QSqlDatabase& source, const QSqlDatabase& target, const QString& from,
                     const QStringList& dataSets, QString* note, QString* error)
{
    // Nothing copied, nothing changed.
    if (dataSets.isEmpty())
        return true;
    qint64 count = 0, theirs = 0;
    QString last;
    if (!Head(target, &count, &last, error))
        return false;
    if (!Head(source, &theirs, &last, error))
        return false;
    if (count > 0 && theirs > 0) {
        *note = QStringLiteral("The history of %1 (%2 entries) was not copied: %3 has a history of its own, and one "
                               "chain cannot hold both. It stays in %1.")
                    .arg(from)
                    .arg(theirs)
                    .arg(DatabaseDescription(target));
    } else if (theirs > 0) {
        // Copied as they stand, so the chain goes on from their last hash.
        for (const char* table : {"History", "HistoryData"}) {
            const QString name = QString::fromLatin1(table);
            const QStringList columns = TableColumns(name);
            QStringList marks;
            for (qsizetype i = 0; i < columns.size(); ++i)
                marks.append(QStringLiteral("?"));
            QSqlQuery insert(target);
            insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                               .arg(name, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
            bool written = true;
            ReadQuery read(
                source,
                QStringLiteral("SELECT %1 FROM %2 ORDER BY entry").arg(columns.join(QStringLiteral(", ")), name));
            const bool whole = read.forEachRow([&](const QSqlQuery& q) {
                if (!written)
                    return;
                for (int i = 0; i < columns.size(); ++i)
                    insert.addBindValue(q.isNull(i) ? QVariant() : q.value(i));
                written = insert.exec();
            });
            if (!written) {
                *error = StatementFailure(target, insert.lastError(), {insert.lastQuery()});
                return false;
            }
            if (!whole) {
                *error = read.failure();
                return false;
            }
        }
    }
    Entry entry;
    entry.action = ActionName(Action::Migrate);
    entry.detail.insert(QStringLiteral("from"), from);
    entry.detail.insert(QStringLiteral("datasets"), dataSets.join(QStringLiteral(", ")));
    entry.detail.insert(QStringLiteral("history_copied"), note->isEmpty() && theirs > 0);
    return Append(target, entry, {}, error);
}

} // namespace velmar::history
