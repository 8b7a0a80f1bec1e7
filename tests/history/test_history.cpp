#include "common/testsupport.h"

#include "db/dialect.h"
#include "history/history.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <thread>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QString kDataSet = u"02_2005"_s;

class History : public DatabaseTest
{
protected:
    // The sample pay run, or the same with one doctor's fee changed.
    QString payFile(bool changed)
    {
        QFile sample(sourcePath(u"samples/sample.pay"_s));
        EXPECT_TRUE(sample.open(QIODevice::ReadOnly));
        QByteArray text = sample.readAll();
        if (changed)
            text.replace("08:00-18:00,45.00,450.00,0,0.00,,,450.00", "08:00-18:00,45.00,485.50,0,0.00,,,485.50");
        return writeFile(changed ? u"changed.pay"_s : u"sample.pay"_s, text);
    }
    // The data set's rows in every table, as stored, in stored order.
    QStringList dataSetRows()
    {
        QStringList all;
        for (const QString& table : {u"FileNames"_s, u"Headers"_s, u"Details"_s})
            all += rows(u"SELECT %1 FROM %2 WHERE DataSet = '%3' ORDER BY %4"_s.arg(
                TableColumns(table).join(u", "_s), table, kDataSet, table == u"Details" ? u"recno"_s : u"rowid"_s));
        return all;
    }
    QStringList actions() { return rows(u"SELECT action FROM History ORDER BY entry"_s); }
    void expectIntact(qint64 entries)
    {
        const CliRun verified = cli({u"verify-history"_s});
        EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
        EXPECT_TRUE(verified.out.startsWith(u"History intact: %1 entries, last "_s.arg(entries)))
            << verified.out.toStdString();
    }
};

// An import, an overwrite and a restore each leave one entry; a failed import leaves none; the
// replaced data set comes back row for row, and what the restore replaced is kept in turn.
TEST_P(History, OverwriteKeepsTheReplacedDataSetAndRestoreBringsItBack)
{
    ASSERT_EQ(cli({u"import"_s, payFile(false)}).exitCode, 0);
    exec(u"UPDATE Details SET Notes = 'corrected by hand' WHERE recno = 3"_s);
    const QStringList corrected = dataSetRows();
    // A pay file broken half-way: nothing imported, nothing recorded.
    const QString broken = writeFile(u"broken.pay"_s, "A,Broken\nB,02_2005\nH,1\n");
    EXPECT_NE(cli({u"import"_s, u"--overwrite"_s, broken}).exitCode, 0);
    EXPECT_EQ(actions(), QStringList{u"import"_s});

    ASSERT_EQ(cli({u"import"_s, u"--overwrite"_s, payFile(true)}).exitCode, 0);
    const QStringList second = dataSetRows();
    ASSERT_NE(second, corrected);
    const CliRun restored = cli({u"restore"_s, u"--dataset"_s, kDataSet, u"--entry"_s, u"2"_s});
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_EQ(dataSetRows(), corrected);
    ASSERT_EQ(cli({u"restore"_s, u"--dataset"_s, kDataSet, u"--entry"_s, u"3"_s}).exitCode, 0);
    EXPECT_EQ(dataSetRows(), second);
    EXPECT_EQ(actions(), (QStringList{u"import"_s, u"overwrite"_s, u"restore"_s, u"restore"_s}));
    // An import entry keeps nothing to restore.
    EXPECT_EQ(cli({u"restore"_s, u"--dataset"_s, kDataSet, u"--entry"_s, u"1"_s}).exitCode, 1);

    const CliRun listed = cli({u"history"_s, u"--dataset"_s, kDataSet});
    const QStringList lines = listed.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.at(1).contains(u"\toverwrite\t02_2005\t\t\tchanged.pay (7931 bytes, SHA-256 "_s))
        << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(1).endsWith(u"12 doctors, 59 shift records; the replaced data set is kept"_s));
    // From a pipe the entry names the bytes read just the same.
    QFile sample(payFile(false));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QByteArray piped = sample.readAll();
    ASSERT_EQ(cli({u"import"_s, u"--overwrite"_s, u"-"_s}, QString(), &piped).exitCode, 0);
    const QJsonObject detail =
        QJsonDocument::fromJson(rows(u"SELECT detail FROM History WHERE entry = 5"_s).value(0).toUtf8()).object();
    EXPECT_EQ(detail.value(u"file"_s).toString(), u"(standard input)"_s);
    EXPECT_EQ(detail.value(u"size"_s).toInteger(), piped.size());
    EXPECT_EQ(detail.value(u"sha256"_s).toString(), history::Sha256Hex(piped));
    expectIntact(5);
}

// A change made outside the program, to any entry or to the bytes an entry keeps, is found; so is
// an entry removed or slipped in.
TEST_P(History, VerifyFindsEveryChangeMadeOutsideTheProgram)
{
    ASSERT_EQ(cli({u"import"_s, payFile(false)}).exitCode, 0);
    ASSERT_EQ(cli({u"import"_s, u"--overwrite"_s, payFile(true)}).exitCode, 0);
    ASSERT_EQ(cli({u"import"_s, u"--overwrite"_s, payFile(false)}).exitCode, 0);
    expectIntact(3);
    const QString hex = onServer() ? u"'\\x00'::bytea"_s : u"X'00'"_s;
    const struct
    {
        const char* what;
        QString tamper;
        int entry;
    } cases[] = {
        {"an entry changed", u"UPDATE History SET who = 'someone else' WHERE entry = 2"_s, 2},
        {"an entry removed", u"DELETE FROM History WHERE entry = 2"_s, 2},
        {"an entry slipped in", u"INSERT INTO History (entry, action, hash) VALUES (4, 'edit', 'x')"_s, 4},
        {"kept bytes changed", u"UPDATE HistoryData SET data = %1 WHERE entry = 3"_s.arg(hex), 3},
        // Each row still matches its own sha256 column: only the entries' own record finds the swap.
        {"kept bytes swapped", u"UPDATE HistoryData SET entry = 5 - entry WHERE entry IN (2, 3)"_s, 2},
        // Only prune-sent drops kept bytes, and never a replaced data set.
        {"kept data set removed", u"DELETE FROM HistoryData WHERE entry = 3"_s, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        exec(u"CREATE TABLE saved AS SELECT * FROM History"_s);
        exec(u"CREATE TABLE saveddata AS SELECT * FROM HistoryData"_s);
        exec(c.tamper);
        const CliRun verified = cli({u"verify-history"_s});
        EXPECT_EQ(verified.exitCode, 1);
        EXPECT_EQ(verified.err.trimmed(),
                  u"History entry %1 does not match: it was changed or removed outside the program"_s.arg(c.entry));
        exec(u"DELETE FROM History"_s);
        exec(u"DELETE FROM HistoryData"_s);
        exec(u"INSERT INTO History SELECT * FROM saved"_s);
        exec(u"INSERT INTO HistoryData SELECT * FROM saveddata"_s);
        exec(u"DROP TABLE saved"_s);
        exec(u"DROP TABLE saveddata"_s);
    }
    expectIntact(3);
}

// The detail window's add, edit and delete: one entry each with the record's values, an edit only
// those that changed; an edit that found no record leaves none.
TEST_P(History, EachRecordChangeLeavesOneEntry)
{
    ASSERT_EQ(cli({u"import"_s, payFile(false)}).exitCode, 0);
    const auto change = [&](history::Action action, int recno, const QString& statement) {
        return history::ChangeRecord(
            m_db, action, kDataSet, recno, [&](int n) { return QStringList{statement.arg(n)}; }, m_prompter);
    };
    const int added = change(history::Action::Add, -1,
                             u"INSERT INTO Details (recno, DataSet, id, Shift_Date, Total) VALUES (%1, '02_2005', "
                             "'1002', '2005-02-28', 85.5)"_s);
    ASSERT_EQ(added, 60);
    EXPECT_EQ(change(history::Action::Edit, added, u"UPDATE Details SET Total = 120 WHERE recno = %1"_s), added);
    EXPECT_EQ(change(history::Action::Edit, 999, u"UPDATE Details SET Total = 1 WHERE recno = %1"_s), 999);
    EXPECT_EQ(change(history::Action::Delete, added, u"DELETE FROM Details WHERE recno = %1"_s), added);
    // A refused statement changes nothing and records nothing.
    EXPECT_EQ(change(history::Action::Edit, 3, u"UPDATE Details SET nosuchcolumn = 1 WHERE recno = %1"_s), -1);
    EXPECT_TRUE(m_prompter.messages.last().startsWith(u"error: SQL Error"_s))
        << m_prompter.messages.last().toStdString();

    const CliRun listed = cli({u"history"_s, u"--doctor"_s, u"1002"_s});
    const QStringList lines = listed.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << listed.out.toStdString();
    EXPECT_TRUE(lines.at(0).contains(u"\tadd\t02_2005\t1002\t60\tadded: Shift_Date '2005-02-28'; "_s))
        << lines.at(0).toStdString();
    EXPECT_TRUE(lines.at(1).endsWith(u"\tedit\t02_2005\t1002\t60\tTotal 85.50 → 120.00"_s))
        << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(2).contains(u"\tdelete\t02_2005\t1002\t60\tdeleted: Shift_Date '2005-02-28'; "_s))
        << lines.at(2).toStdString();
    expectIntact(4);
}

// Two clerks importing at the same moment: each import is one entry, and the chain does not fork.
TEST_P(History, TwoClerksWritingAtOnceKeepOneChain)
{
    QFile sample(payFile(false));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QString files[] = {sample.fileName(),
                             writeFile(u"other.pay"_s, sample.readAll().replace("B,02_2005", "B,03_2005"))};
    const QString ini = iniForStore();
    const QString db = onServer() ? QString() : m_dbPath;
    CliRun runs[2];
    std::thread a([&] { runs[0] = runCli(ini, db, {u"import"_s, files[0]}); });
    std::thread b([&] { runs[1] = runCli(ini, db, {u"import"_s, files[1]}); });
    a.join();
    b.join();
    EXPECT_EQ(runs[0].exitCode, 0) << runs[0].err.toStdString();
    EXPECT_EQ(runs[1].exitCode, 0) << runs[1].err.toStdString();
    expectIntact(2);
}

VELMAR_ON_EACH_STORE(History);

} // namespace
