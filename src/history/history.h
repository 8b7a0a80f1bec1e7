#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QIODevice>
#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

struct evp_md_ctx_st;

namespace velmar {
class Prompter;
}

namespace velmar::history {

// Every change of stored data leaves one entry, written in the change's own write transaction
// (the writers' lock held), so there is no change without its entry and no entry without its
// change, and two clerks writing at once never fork the chain of hashes.
enum class Action { Import, Overwrite, Add, Edit, Delete, Send, Migrate, Restore, PruneSent };
QString ActionName(Action action);

struct Entry
{
    qint64 number = 0; // 1, 2, ...: given when appended
    QDateTime at;      // UTC, given when appended
    QString who, host, program;
    QString action;
    QString dataSet, doctor;
    QVariant recno;            // null when the change is not of one record
    QJsonObject before, after; // the record's stored values (of an edit only those that changed)
    QJsonObject detail;        // the rest: a file's name, size, SHA-256 and counts, a mail's headers...
    QString hash;              // over the canonical text and the previous entry's hash
};

// Bytes kept with an entry (a replaced data set, a mailed attachment); the entry's detail names
// their SHA-256 under "kept", so the chain covers them while pruning them leaves it whole.
struct Kept
{
    QString name;
    QByteArray bytes;
};

// The name under which an overwrite or restore keeps the replaced data set.
inline constexpr char kDataSetCopy[] = "dataset";
// The names under which a send keeps the attachments it mailed.
inline constexpr char kInvoiceDocument[] = "invoice";
inline constexpr char kPensionFormDocument[] = "pension-form";

QString Sha256Hex(const QByteArray& bytes);

// Appends the entry as the next one, inside the caller's write transaction; fills in number, time,
// who, host, program and hash. False with the database's reason.
bool Append(const QSqlDatabase& db, Entry& entry, const QList<Kept>& kept, QString* error);

// The data set's rows (FileNames, Headers, Details) in stored order, compressed: what an overwrite
// or restore keeps. Empty with *error when they cannot be read.
QByteArray DumpDataSet(const QSqlDatabase& db, const QString& dataSet, QString* error);

// Runs the statement that adds (recno < 0: it is given the next free number), changes or deletes
// one shift record of the data set, and its entry, as one write transaction. The record's number,
// or -1 after a message (refusedText, when given, words a refused statement: %1 is its text);
// *changed gets the rows changed (none changed: no entry).
int ChangeRecord(const QSqlDatabase& db, Action action, const QString& dataSet, int recno,
                 const std::function<QStringList(int recno)>& statement, Prompter& prompter, int* changed = nullptr,
                 const QString& refusedText = QString());

// Brings back the data set as entry `number` kept it, recorded as a restore that keeps what it
// replaces. *said gets what was done. False with the message.
bool Restore(const QSqlDatabase& db, const QString& dataSet, qint64 number, QString* said, QString* error);

// Checks the chain and the kept bytes. True when intact; else *broken is the first entry that
// does not match. *count and *last describe the history read.
bool Verify(const QSqlDatabase& db, qint64* count, QString* last, qint64* broken, QString* error);
// The number of entries and the last one's hash (empty when none), as the summary prints them.
bool Head(const QSqlDatabase& db, qint64* count, QString* last, QString* error);

struct Filter
{
    QString dataSet, doctor;
    QDate since;
};
// Matching entries, oldest first.
bool Read(const QSqlDatabase& db, const Filter& filter, QList<Entry>* entries, QString* error);
// "Total 85.50 → 120.00; Notes 'x' → 'y'", a file imported, a message sent...
QString Describe(const Entry& entry);
// Whether Restore can bring a data set back from the entry.
bool KeepsDataSet(const Entry& entry);

// Reads a pay file through, counting and hashing its bytes on the way: the entry then describes
// the bytes imported, from a pipe as from a file, even if the file changes afterwards. OpenSSL's
// SHA-256 uses the processor's own instructions, a tenth of an import's cost with Qt's.
class HashingReader : public QIODevice
{
public:
    explicit HashingReader(QIODevice& source);
    ~HashingReader() override;
    HashingReader(const HashingReader&) = delete;
    HashingReader& operator=(const HashingReader&) = delete;
    bool isSequential() const override { return m_source.isSequential(); }
    qint64 size() const override { return m_source.isSequential() ? QIODevice::size() : m_source.size(); }
    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + m_source.bytesAvailable(); }
    // The source's file name; empty for standard input.
    QString name() const;
    qint64 bytesRead() const { return m_read; }
    QString sha256() const;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice& m_source;
    ::evp_md_ctx_st* m_sha;
    qint64 m_read = 0;
};

// The import's one entry: the pay file's name, size and SHA-256, the counts; with the replaced
// data set's dump (not null) an overwrite that keeps it. Inside the import's transaction.
bool RecordImport(const QSqlDatabase& db, const QString& dataSet, const HashingReader& file, int doctors, int shifts,
                  const QByteArray& replaced, QString* error);

// The bytes a send to the doctor kept: of the attempt numbered as in the send log, or (0) of his
// latest that kept any. False with the message.
bool SentDocument(const QSqlDatabase& db, const QString& dataSet, const QString& doctor, qint64 attempt,
                  const QString& name, QByteArray* bytes, QString* error);
// Drops the documents kept by sends made before the date, as one entry. *dropped: how many.
bool PruneSent(const QSqlDatabase& db, const QDate& before, int* dropped, QString* error);

// Appends the migrate entry to target, after copying the source's history when the target has none
// (else *note says why not). Inside the migration's transaction.
bool RecordMigration(const QSqlDatabase& source, const QSqlDatabase& target, const QString& from,
                     const QStringList& dataSets, QString* note, QString* error);

} // namespace velmar::history
