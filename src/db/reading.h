#pragma once

#include <QByteArrayView>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>

struct sqlite3_stmt;

namespace velmar {

// One read, run and then walked to the end of its rows. A server connection lost since the last
// action is opened again first. A result that ends early (a statement the server cut short, a
// connection lost on the way) is a failure, never a short list.
class ReadQuery
{
public:
    // Runs the statement, with its ? marks bound to values in order.
    ReadQuery(const QSqlDatabase& db, const QString& statement, const QVariantList& values = {});

    // False when the statement failed; trouble() then says why.
    bool isActive() const { return m_active; }
    // The columns (record()) and, inside forEachRow, the current row.
    const QSqlQuery& query() const { return m_query; }
    // Calls `row` on each row to the end. False when the statement failed or its rows ended early.
    bool forEachRow(const std::function<void(const QSqlQuery& row)>& row);
    // Moves to the next row, for a caller that takes rows as it needs them. False at the end and at a
    // failure alike: isActive() then tells which.
    bool next();
    // The database's trouble, worded for the user ("The database stopped answering: ..."); empty when the
    // statement itself was refused, which the caller words ("Error in query: %s").
    QString trouble() const { return m_trouble; }
    // The trouble, else "Error in query: %s" with the statement.
    QString failure() const;

private:
    QSqlDatabase m_db;
    QString m_statement;
    QSqlQuery m_query;
    bool m_active = false;
    QString m_trouble;
};

// One view of the database for a run that reads it more than once (every doctor of a data set, a
// summary written twice): another clerk's re-import is seen wholly or not at all. On a server a
// REPEATABLE READ transaction. On SQLite a read kept open, which holds off other programs' commits
// until the run ends while this connection's own writes (the send log) still commit at once.
// Snapshots on one connection nest: the outermost one counts.
class ReadSnapshot
{
public:
    explicit ReadSnapshot(const QSqlDatabase& db);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

    bool isActive() const { return m_active; }
    // Why it could not begin, worded for the user.
    QString trouble() const { return m_trouble; }

private:
    QSqlDatabase m_db;
    bool m_active = false;
    bool m_outermost = false;
    sqlite3_stmt* m_held = nullptr;
    QString m_trouble;
};

// Walks a statement whose first column is a text key and whose others are numbers, handing each row
// over as the key's bytes and the numbers: what a sum over a whole data set needs, without the
// copies Qt makes of every value. A number reads as QVariant::toDouble() reads it, except that NULL
// is NaN, for a caller that must tell it apart. Fails as ReadQuery does, with *trouble set alike.
bool ReadKeyedNumbers(const QSqlDatabase& db, const QString& statement,
                      const std::function<void(QByteArrayView key, const double* numbers)>& row, QString* trouble);

// A read's failure as the user is told it: the database's trouble, else "Error in query: %s" with the
// statement that was refused.
QString ReadFailure(const QString& trouble, const QString& statement);

} // namespace velmar
