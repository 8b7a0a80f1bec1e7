#include "common/testsupport.h"

#include "db/database.h"
#include "db/sqltransaction.h"

#include <QFile>
#include <QSqlQuery>

using namespace velmar;
using namespace velmar::test;

class DatabaseSchema : public DatabaseTest
{
};

TEST_F(DatabaseSchema, QuoteForSqlDoublesEveryApostrophe)
{
    EXPECT_EQ(QuoteForSql(QStringLiteral("O'Brien's")), QStringLiteral("O''Brien''s"));
    EXPECT_EQ(QuoteForSql(QStringLiteral("''")), QStringLiteral("''''"));
    exec(QStringLiteral("INSERT INTO FileNames VALUES('%1', 'x')").arg(QuoteForSql(QStringLiteral("it's"))));
    EXPECT_EQ(scalar(QStringLiteral("SELECT DataSet FROM FileNames")).toString(), QStringLiteral("it's"));
}

TEST_F(DatabaseSchema, CurrentSchemaIsLeftAloneSilently)
{
    exec(QStringLiteral("INSERT INTO Details VALUES(1,'d','1','2005-02-01','L','S','T',10,25,30,20,1,' ',7,3)"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
    EXPECT_EQ(rows(QStringLiteral("SELECT superfee, nonsuperfee FROM Details")), QStringList{QStringLiteral("7|3")});
}

TEST_F(DatabaseSchema, OldDatabaseGainsBothColumnsWithNetPay)
{
    exec(QStringLiteral("DROP TABLE Details"));
    exec(QStringLiteral("CREATE TABLE Details (recno INTEGER, DataSet TEXT, id TEXT, Shift_Date TEXT, Location TEXT, "
                        "Shift TEXT, Times TEXT, Rate REAL, Total REAL, AdjustmentTime INTEGER, AdjustmentRate REAL, "
                        "Extra INTEGER, Notes TEXT)"));
    // 90 minutes at 20.00 an hour: 30.00 extra, or taken off.
    exec(QStringLiteral("INSERT INTO Details VALUES(1,'d','1','2005-02-01','L','S','T',10,100,90,20,1,' ')"));
    exec(QStringLiteral("INSERT INTO Details VALUES(2,'d','1','2005-02-02','L','S','T',10,100,90,20,-1,' ')"));
    exec(QStringLiteral("INSERT INTO Details VALUES(3,'d','1','2005-02-03','L','S','T',10,55.5,45,10,0,' ')"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    const QStringList r = rows(QStringLiteral("SELECT recno, superfee, nonsuperfee FROM Details ORDER BY recno"));
    EXPECT_EQ(r, (QStringList{QStringLiteral("1|130|0"), QStringLiteral("2|70|0"), QStringLiteral("3|55.5|0")}));
}

TEST_F(DatabaseSchema, FailedUpgradeStepsAreReportedAndTheRestRun)
{
    exec(QStringLiteral("DROP TABLE Details"));
    exec(QStringLiteral("CREATE TABLE Details (recno INTEGER, Total REAL, nonsuperfee REAL)"));
    UpgradeSchema(m_db, m_prompter);
    // The second ALTER and the superfee update fail (column exists, columns missing); the others run.
    ASSERT_EQ(m_prompter.messages.size(), 2);
    EXPECT_EQ(m_prompter.messages[0],
              QStringLiteral("error: SQL Error: ALTER TABLE Details ADD COLUMN nonsuperfee decimal(10,2) default 0\n"));
    EXPECT_TRUE(m_prompter.messages[1].startsWith(QStringLiteral("error: SQL Error: Update Details set superfee")));
    EXPECT_TRUE(scalar(QStringLiteral("SELECT count(superfee) FROM Details")).isValid());
}

TEST_F(DatabaseSchema, NextRecordNumberSpansDataSets)
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

TEST_F(DatabaseSchema, OpenAndCreateRefuseWrongFiles)
{
    QString error;
    QSqlDatabase db;
    EXPECT_FALSE(OpenDatabase(path(QStringLiteral("missing.mdb")), QStringLiteral("m"), &db, &error));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("missing.mdb"))));
    EXPECT_FALSE(CreateDatabase(m_dbPath, &error));
    const QString junk = writeFile(QStringLiteral("junk.mdb"), QByteArray(4096, 'x'));
    EXPECT_FALSE(OpenDatabase(junk, QStringLiteral("junk"), &db, &error));
    CloseDatabase(QStringLiteral("junk"));
    CloseDatabase(QStringLiteral("m"));
}

TEST_F(DatabaseSchema, TransactionRollsBackUnlessCommitted)
{
    {
        SqlTransaction t(m_db);
        ASSERT_TRUE(t.isActive()) << t.error().toStdString();
        exec(QStringLiteral("INSERT INTO FileNames VALUES('a', 'b')"));
    }
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM FileNames")).toInt(), 0);
    {
        SqlTransaction t(m_db);
        exec(QStringLiteral("INSERT INTO FileNames VALUES('a', 'b')"));
        EXPECT_TRUE(t.commit());
    }
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM FileNames")).toInt(), 1);
}

TEST_F(DatabaseSchema, DatabaseWithoutSendLogGainsItWhateverItsDetails)
{
    exec(QStringLiteral("DROP TABLE SendLog"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    exec(QStringLiteral("INSERT INTO SendLog (DataSet, id, address, attachments, sent_at, outcome, reply, attempt) "
                        "VALUES ('d', '1', 'a@b.test', 'x.pdf', '2025-06-05T13:03:09Z', 'sent', '250 OK', 1)"));
    UpgradeSchema(m_db, m_prompter);
    EXPECT_EQ(scalar(QStringLiteral("SELECT count(*) FROM SendLog")).toInt(), 1);
    EXPECT_TRUE(m_prompter.messages.isEmpty());
}
