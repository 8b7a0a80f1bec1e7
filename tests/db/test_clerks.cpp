#include "common/realpeers.h"
#include "common/testsupport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "db/database.h"
#include "db/reading.h"
#include "db/sqltransaction.h"
#include "import/payimport.h"

#include <QSqlQuery>

#include <atomic>
#include <thread>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

// Several clerks on one database, each with a connection of their own.
class Clerks : public DatabaseTest
{
};
VELMAR_ON_EACH_STORE(Clerks);
using ClerksOnServer = Clerks;
INSTANTIATE_TEST_SUITE_P(Server, ClerksOnServer, ::testing::Values(Store::PostgreSQL), StoreName);
using ClerksOnFile = Clerks;
INSTANTIATE_TEST_SUITE_P(File, ClerksOnFile, ::testing::Values(Store::SQLite), StoreName);

// Two clerks pressing "+" at the same moment, many times over: every record gets a number of its
// own, and each clerk's numbers rise.
TEST_P(Clerks, RecordsAddedAtOnceGetNumbersOfTheirOwn)
{
    constexpr int kEach = 40;
    QList<int> numbers[2];
    const auto clerk = [&](int who) {
        const QString connection = u"clerk%1"_s.arg(who);
        {
            QSqlDatabase db = openAnother(connection);
            ScriptedPrompter prompter;
            for (int i = 0; i < kEach; ++i)
                numbers[who].append(AddNumberedRecord(
                    db,
                    [&](int recno) {
                        return QStringList{u"INSERT INTO Details (recno, DataSet, id) VALUES(%1, 'Nov06', '%2')"_s.arg(
                            QString::number(recno), QString::number(who))};
                    },
                    prompter));
            EXPECT_TRUE(prompter.messages.isEmpty()) << prompter.messages.join(u'\n').toStdString();
        }
        CloseDatabase(connection);
    };
    std::thread other(clerk, 1);
    clerk(0);
    other.join();
    for (const QList<int>& n : numbers) {
        ASSERT_EQ(n.size(), kEach);
        EXPECT_TRUE(std::is_sorted(n.begin(), n.end()));
        EXPECT_GT(n.first(), 0);
    }
    EXPECT_EQ(rows(u"SELECT count(DISTINCT recno), count(*), MAX(recno) FROM Details"_s),
              QStringList{u"%1|%1|%1"_s.arg(2 * kEach)});
}

// A run holding its read on a file (a send run writing its log) while another clerk writes: SQLite
// answers the run's writer "busy" at once, as the other waits for the read to end. The run waits for
// the other writer to give up instead of losing its write.
TEST_P(ClerksOnFile, RunHoldingItsReadOutwaitsAnotherWriter)
{
    const ReadSnapshot run(m_db);
    ASSERT_TRUE(run.isActive());
    std::atomic<bool> began = false;
    bool holding = false;
    bool otherCommitted = true;
    std::thread other([&] {
        {
            QSqlDatabase db = openAnother(u"other"_s);
            SqlTransaction importing(db);
            holding = importing.isActive();
            began = true;
            QSqlQuery(db).exec(u"INSERT INTO FileNames (DataSet, Label) VALUES('03_2005', 'other')"_s);
            otherCommitted = importing.commit();
        }
        CloseDatabase(u"other"_s);
    });
    while (!began)
        std::this_thread::yield();
    EXPECT_TRUE(holding);
    {
        SqlTransaction logging(m_db);
        EXPECT_TRUE(logging.isActive()) << logging.error().toStdString();
        exec(u"INSERT INTO FileNames (DataSet, Label) VALUES('02_2005', 'run')"_s);
        EXPECT_TRUE(logging.commit());
    }
    other.join();
    EXPECT_FALSE(otherCommitted);
    EXPECT_EQ(rows(u"SELECT DataSet FROM FileNames"_s), QStringList{u"02_2005"_s});
}

// A clerk who writes while another clerk's import holds the database waits, and past the wait
// is told the database is in use; nothing is half written.
TEST_P(ClerksOnServer, WriterWaitsForAnotherClerkThenHearsTheDatabaseIsInUse)
{
    AppSettings settings;
    AppState state;
    const QString file = writeFile(u"run.pay"_s, "A,March\nB,03_2005\nD,7,01/03/2005,L,S,T,1,2,3,4,Y,n,5,6\n");
    exec(u"SET lock_timeout = '300ms'"_s);
    {
        QSqlDatabase other = openAnother(u"other"_s);
        SqlTransaction importing(other);
        ASSERT_TRUE(importing.isActive());
        EXPECT_FALSE(ImportPaymentFile(file, settings, state, m_db, m_prompter));
        EXPECT_EQ(
            m_prompter.messages,
            QStringList{u"error: The database %1 is in use by another program. Try again when it has finished."_s.arg(
                DatabaseDescription(m_db))});
        EXPECT_TRUE(importing.commit());
    }
    CloseDatabase(u"other"_s);
    EXPECT_EQ(scalar(u"SELECT count(*) FROM FileNames"_s).toInt(), 0);
    EXPECT_TRUE(ImportPaymentFile(file, settings, state, m_db, m_prompter));
    EXPECT_EQ(scalar(u"SELECT count(*) FROM Details"_s).toInt(), 1);
}
