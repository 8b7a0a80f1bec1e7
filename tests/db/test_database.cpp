#include "common/realpeers.h"
#include "common/testsupport.h"

#include "db/database.h"
#include "db/nameorder.h"
#include "db/sqltransaction.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

class DatabaseSchema : public DatabaseTest
{
protected:
    // Details as it was before superfee and nonsuperfee.
    void makeOldSchema()
    {
        exec(QStringLiteral("ALTER TABLE Details DROP COLUMN superfee"));
        exec(QStringLiteral("ALTER TABLE Details DROP COLUMN nonsuperfee"));
        exec(u"DROP TABLE SendClaims"_s);
        for (const char* column : {"net_payment", "attachment_sha256", "import_stamp"})
            exec(u"ALTER TABLE SendLog DROP COLUMN %1"_s.arg(QLatin1String(column)));
    }
    // Every UPDATE of Details fails, until dropped.
    void refuseUpdates()
    {
        if (!onServer()) {
            exec(u"CREATE TRIGGER refuse BEFORE UPDATE ON Details BEGIN SELECT RAISE(ABORT, 'no'); END"_s);
            return;
        }
        exec(u"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS 'BEGIN RAISE EXCEPTION ''no''; END'"_s);
        exec(u"CREATE TRIGGER refuse BEFORE UPDATE ON Details FOR EACH ROW EXECUTE FUNCTION refuse()"_s);
    }
    void dropRefusal() { exec(onServer() ? u"DROP TRIGGER refuse ON Details"_s : u"DROP TRIGGER refuse"_s); }
};
VELMAR_ON_EACH_STORE(DatabaseSchema);
// What only a database file can show.
using DatabaseFile = DatabaseSchema;

TEST_P(DatabaseSchema, QuoteForSqlDoublesEveryApostrophe)
{
    EXPECT_EQ(QuoteForSql(QStringLiteral("O'Brien's")), QStringLiteral("O''Brien''s"));
    EXPECT_EQ(QuoteForSql(QStringLiteral("''")), QStringLiteral("''''"));
    exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label) VALUES('%1', 'x')")
             .arg(QuoteForSql(QStringLiteral("it's"))));
    EXPECT_EQ(scalar(QStringLiteral("SELECT DataSet FROM FileNames")).toString(), QStringLiteral("it's"));
}

TEST_P(DatabaseSchema, CurrentSchemaIsLeftAloneSilently)
{
    exec(QStringLiteral("INSERT INTO Details VALUES(1,'d','1','2005-02-01','L','S','T',10,25,30,20,1,' ',7,3)"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
    EXPECT_EQ(rows(QStringLiteral("SELECT superfee, nonsuperfee FROM Details")), QStringList{QStringLiteral("7|3")});
}

TEST_P(DatabaseSchema, OldDatabaseGainsBothColumnsWithNetPay)
{
    makeOldSchema();
    // 90 minutes at 20.00 an hour: 30.00 extra, or taken off.
    exec(QStringLiteral("INSERT INTO Details VALUES(1,'d','1','2005-02-01','L','S','T',10,100,90,20,1,' ')"));
    exec(QStringLiteral("INSERT INTO Details VALUES(2,'d','1','2005-02-02','L','S','T',10,100,90,20,-1,' ')"));
    exec(QStringLiteral("INSERT INTO Details VALUES(3,'d','1','2005-02-03','L','S','T',10,55.5,45,10,0,' ')"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    const QStringList r = rows(QStringLiteral("SELECT recno, superfee, nonsuperfee FROM Details ORDER BY recno"));
    EXPECT_EQ(r, (QStringList{QStringLiteral("1|130|0"), QStringLiteral("2|70|0"), QStringLiteral("3|55.5|0")}));
    // The send runs' claims and what each message held came with it.
    EXPECT_EQ(scalar(u"SELECT count(*) FROM SendClaims"_s).toInt(), 0);
    EXPECT_EQ(
        scalar(u"SELECT count(net_payment) + count(attachment_sha256) + count(import_stamp) FROM SendLog"_s).toInt(),
        0);
}

TEST_P(DatabaseSchema, FailedUpgradeLeavesTheOldSchemaAndIsTriedAgain)
{
    makeOldSchema();
    exec(u"INSERT INTO Details VALUES(1,'d','1','2005-02-01','L','S','T',10,100,90,20,1,' ')"_s);
    // The third step fails, after both columns were added.
    refuseUpdates();
    EXPECT_FALSE(UpgradeSchema(m_db, m_prompter));
    EXPECT_EQ(m_prompter.messages,
              QStringList{u"error: The database %1 needs an upgrade that could not be made: SQL Error: Update Details "
                          "set superfee = (Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0))\n"_s.arg(
                              DatabaseDescription(m_db))});
    EXPECT_FALSE(scalar(u"SELECT count(superfee) FROM Details"_s).isValid());
    EXPECT_FALSE(scalar(u"SELECT count(*) FROM SendClaims"_s).isValid());
    dropRefusal();
    EXPECT_TRUE(UpgradeSchema(m_db, m_prompter));
    EXPECT_EQ(rows(u"SELECT superfee, nonsuperfee FROM Details"_s), QStringList{u"130|0"_s});
}

TEST_P(DatabaseSchema, NextRecordNumberSpansDataSets)
{
    EXPECT_EQ(NextRecordNumber(m_db, m_prompter), 1);
    exec(QStringLiteral("INSERT INTO Details (recno, DataSet) VALUES(41, 'other')"));
    exec(QStringLiteral("INSERT INTO Details (recno, DataSet) VALUES(7, 'mine')"));
    EXPECT_EQ(NextRecordNumber(m_db, m_prompter), 42);
    exec(QStringLiteral("DROP TABLE Details"));
    EXPECT_EQ(NextRecordNumber(m_db, m_prompter), -1);
    EXPECT_EQ(m_prompter.messages,
              QStringList{QStringLiteral("error: Error in query: SELECT MAX(recno) as recno from Details\n")});
}

TEST_F(DatabaseFile, OpenAndCreateRefuseWrongFiles)
{
    QString error;
    QSqlDatabase db;
    EXPECT_FALSE(OpenDatabase(path(QStringLiteral("missing.mdb")), QStringLiteral("m"), &db, &error));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("missing.mdb"))));
    EXPECT_FALSE(CreateDatabase(m_dbPath, &error));
    const QString junk = writeFile(QStringLiteral("junk.mdb"), QByteArray(4096, 'x'));
    EXPECT_FALSE(OpenDatabase(junk, QStringLiteral("junk"), &db, &error));
    EXPECT_EQ(error, QStringLiteral("Unrecognized database format '%1'.").arg(junk));
    // Not a file at all: named, with what it is.
    EXPECT_FALSE(OpenDatabase(m_dir.path(), QStringLiteral("folder"), &db, &error));
    EXPECT_EQ(error, u"Cannot open the database %1: it is a folder"_s.arg(m_dir.path()));
    // An empty file, and another program's database, keep every byte: not even the send log is added.
    const QString empty = writeFile(u"empty.mdb"_s, QByteArray());
    const QString other = path(u"other.mdb"_s);
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"other"_s);
        d.setDatabaseName(other);
        ASSERT_TRUE(d.open() && QSqlQuery(d).exec(u"CREATE TABLE Accounts (name TEXT)"_s));
        d.close();
    }
    CloseDatabase(u"other"_s);
    const QByteArray otherBytes = [&] {
        QFile f(other);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const CliRun onEmpty = runCli(writeFile(u"none.ini"_s, {}), empty, {u"datasets"_s});
    EXPECT_EQ(onEmpty.exitCode, 1);
    EXPECT_EQ(onEmpty.err, u"Unrecognized database format '%1'.\n"_s.arg(empty));
    EXPECT_EQ(QFileInfo(empty).size(), 0);
    const CliRun onOther = runCli(writeFile(u"none.ini"_s, {}), other, {u"datasets"_s});
    EXPECT_EQ(onOther.exitCode, 1);
    EXPECT_EQ(onOther.err, u"%1 is not a Velmar database (it has no table Headers, Details, FileNames).\n"
                           "\"velmarpay-cli init-db\" creates a new one where there is no file.\n"_s.arg(other));
    QFile otherAfter(other);
    ASSERT_TRUE(otherAfter.open(QIODevice::ReadOnly));
    EXPECT_EQ(otherAfter.readAll(), otherBytes);
    for (const char* name : {"junk", "m", "folder"})
        CloseDatabase(QString::fromUtf8(name));
}

// SQLite's "attempt to write a readonly database" names no file; the clerk needs to know which.
TEST_F(DatabaseFile, ReadOnlyDatabaseIsNamed)
{
    QSqlDatabase readOnly = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"read-only"_s);
    readOnly.setDatabaseName(m_dbPath);
    readOnly.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
    ASSERT_TRUE(readOnly.open());
    {
        QSqlQuery q(readOnly);
        EXPECT_FALSE(q.exec(u"INSERT INTO FileNames (DataSet, Label) VALUES('x', 'y')"_s));
        EXPECT_EQ(DatabaseTrouble(readOnly, q.lastError()),
                  u"Cannot write to the database %1 (attempt to write a readonly database): write access to it and "
                  "to its folder %2 is needed"_s.arg(m_dbPath, m_dir.path()));
    }
    readOnly = QSqlDatabase();
    CloseDatabase(u"read-only"_s);
}

// A database that needs an upgrade it cannot have (another program writing to it) is not worked on:
// without superfee every figure would read 0.00.
TEST_F(DatabaseFile, OldDatabaseThatCannotBeUpgradedIsNeitherReadNorWritten)
{
    makeOldSchema();
    exec(u"INSERT INTO Headers (DataSet, id, sname) VALUES ('d', '1', 'Ashworth')"_s);
    exec(u"INSERT INTO Details (recno, DataSet, id, Total) VALUES (1, 'd', '1', 100)"_s);
    const QString invoice = path(u"invoice.pdf"_s);
    const LockHolder writer(m_dbPath, u"BEGIN IMMEDIATE"_s);
    const CliRun r = cli({u"invoice"_s, u"--dataset"_s, u"d"_s, u"--doctor"_s, u"1"_s, u"--pdf"_s, invoice});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(r.err, u"The database %1 needs an upgrade that could not be made: The database %1 is in use by "
                     "another program. Try again when it has finished.\n"_s.arg(m_dbPath));
    EXPECT_FALSE(QFile::exists(invoice));
}

TEST_F(DatabaseFile, DatabaseHeldByAnotherProgramIsInUseNotCorrupt)
{
    const QString inUse =
        QStringLiteral("The database %1 is in use by another program. Try again when it has finished.").arg(m_dbPath);
    {
        const LockHolder other(m_dbPath, QStringLiteral("BEGIN EXCLUSIVE"));
        QString error;
        QSqlDatabase db;
        EXPECT_FALSE(OpenDatabase(m_dbPath, QStringLiteral("second"), &db, &error));
        EXPECT_EQ(error, inUse);
        CloseDatabase(QStringLiteral("second"));
        // Nor does the upgrade take the busy file for an old one.
        EXPECT_FALSE(UpgradeSchema(m_db, m_prompter));
        EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: ") + inUse});
    }
    EXPECT_TRUE(UpgradeSchema(m_db, m_prompter));
}

TEST_P(DatabaseSchema, NamesSortIgnoringCaseAndAccentsEqualOnesAsStored)
{
    // Ł and Ø are L and O with a stroke, as accents are; an apostrophe comes before the letters.
    const char* stored[] = {"Zimmermann", "de Souza", "Baker",  "smith",  "Ábrahám", "van der Berg", "Carter", "Smith",
                            "Abraham",    "Oates",    "Łukasz", "Lukasz", "O'Brien", "Øst",          "Ost"};
    for (const char* name : stored)
        exec(u"INSERT INTO Headers (DataSet, sname) VALUES('d', '%1')"_s.arg(QuoteForSql(QString::fromUtf8(name))));
    EXPECT_EQ(rows(QStringLiteral("SELECT sname FROM Headers ORDER BY %1, rowid")
                       .arg(OrderByName(u"sname"_s, DialectOf(m_db)))),
              (QStringList{u"Ábrahám"_s, u"Abraham"_s, u"Baker"_s, u"Carter"_s, u"de Souza"_s, u"Łukasz"_s, u"Lukasz"_s,
                           u"O'Brien"_s, u"Oates"_s, u"Øst"_s, u"Ost"_s, u"smith"_s, u"Smith"_s, u"van der Berg"_s,
                           u"Zimmermann"_s}));
}

// A big pay run's names, sorted by the file's collation, come out the same every time and as the
// server's ICU collation sorts them (the file's sort keys were once read after their cache moved).
TEST_F(DatabaseFile, ThousandsOfNamesSortAsTheServerSortsThem)
{
    const QStringList stems{u"Ábrahám"_s, u"abraham"_s,  u"de Souza"_s, u"DE SOUZA"_s, u"Łukasz"_s, u"Lukasz"_s,
                            u"O'Brien"_s, u"Øst"_s,      u"ost"_s,      u"Zoë"_s,      u"Zoe"_s,    u"Müller"_s,
                            u"Mueller"_s, u"van Berg"_s, u"Van Berg"_s, u"Ó Súille"_s};
    const QString letters = u"aAáÁbBcCçÇeEéÉoOöÖsSßzZ"_s;
    QStringList names;
    for (int i = 0; i < 2400; ++i) {
        // Stored in no order at all.
        const int n = (i * 1009) % 2400;
        names.append(stems.at(n % stems.size()) + letters.at((n / 16) % letters.size()) +
                     letters.at((n / 7) % letters.size()));
    }
    const auto store = [&names](const QSqlDatabase& db) {
        QSqlQuery q(db);
        q.exec(u"BEGIN"_s);
        for (const QString& name : names)
            q.exec(u"INSERT INTO Headers (DataSet, sname) VALUES ('d', '%1')"_s.arg(QuoteForSql(name)));
        q.exec(u"COMMIT"_s);
    };
    const auto sorted = [](const QSqlDatabase& db) {
        QStringList order;
        QSqlQuery q(db);
        EXPECT_TRUE(
            q.exec(u"SELECT sname FROM Headers ORDER BY %1, rowid"_s.arg(OrderByName(u"sname"_s, DialectOf(db)))));
        while (q.next())
            order.append(q.value(0).toString());
        return order;
    };
    store(m_db);
    const QStringList order = sorted(m_db);
    ASSERT_EQ(order.size(), names.size());
    EXPECT_EQ(sorted(m_db), order);

    PostgresServer& server = PostgresServer::instance();
    const QString name = server.createDatabase();
    {
        QSqlDatabase db;
        QString error;
        ASSERT_TRUE(OpenServerDatabase(server.settings(name), u"names"_s, &db, &error)) << error.toStdString();
        store(db);
        EXPECT_EQ(sorted(db), order);
    }
    CloseDatabase(u"names"_s);
    server.dropDatabase(name);
}

TEST_P(DatabaseSchema, TransactionRollsBackUnlessCommitted)
{
    {
        SqlTransaction t(m_db);
        ASSERT_TRUE(t.isActive()) << t.error().toStdString();
        exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label) VALUES('a', 'b')"));
    }
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM FileNames")).toInt(), 0);
    {
        SqlTransaction t(m_db);
        exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label) VALUES('a', 'b')"));
        EXPECT_TRUE(t.commit());
    }
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM FileNames")).toInt(), 1);
}

TEST_P(DatabaseSchema, DatabaseWithoutSendLogOrImportTimesGainsThemWhateverItsDetails)
{
    exec(QStringLiteral("DROP TABLE SendLog"));
    exec(QStringLiteral("ALTER TABLE FileNames DROP COLUMN Imported"));
    exec(QStringLiteral("INSERT INTO FileNames VALUES('d', 'old run')"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    // Imported before the time was kept: none.
    EXPECT_EQ(rows(QStringLiteral("SELECT DataSet, Label, Imported FROM FileNames")), QStringList{u"d|old run|"_s});
    exec(QStringLiteral("INSERT INTO SendLog (DataSet, id, address, attachments, sent_at, outcome, reply, attempt) "
                        "VALUES ('d', '1', 'a@b.test', 'x.pdf', '2025-06-05T13:03:09Z', 'sent', '250 OK', 1)"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM SendLog")).toInt(), 1);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}
