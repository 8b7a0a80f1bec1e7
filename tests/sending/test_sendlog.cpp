// The send log as stored: one row per attempt, read back per doctor or in turn.
#include "core/clock.h"
#include "db/database.h"
#include "sending/sendclaim.h"
#include "sending/sendlog.h"

#include "documents/reportsfixture.h"

#include <QSysInfo>

#include <gtest/gtest.h>

namespace velmar::test {
using namespace Qt::StringLiterals;
namespace {

class SendLogTest : public ReportsTest
{
protected:
    void append(const QString& id, SendOutcome outcome, const QString& reply, const QString& dataSet = u"DS1"_s)
    {
        QString error;
        ASSERT_TRUE(AppendSendLog(
            m_db,
            {dataSet, id, QString(), id + u"@example.test"_s, u"x.pdf"_s, Clock::currentDateTime(), outcome, reply},
            &error))
            << error.toStdString();
    }
    static QStringList lines(const QList<SendLogEntry>& entries)
    {
        QStringList result;
        for (const SendLogEntry& e : entries)
            result.append(QStringList{e.id, e.sname, OutcomeName(e.outcome), e.reply}.join(u'|'));
        return result;
    }
};
VELMAR_ON_EACH_STORE(SendLogTest);

TEST_P(SendLogTest, LatestPerDoctorInSurnameOrderOrEveryAttemptInTurn)
{
    addDoctor({.id = u"1"_s, .fname = u"Alan"_s, .sname = u"Oakes"_s});
    addDoctor({.id = u"2"_s, .fname = u"Beth"_s, .sname = u"O'Brien"_s});
    // Every attempt within one second: the order tried still decides which is the latest.
    const FixedClock clock(QDateTime(QDate(2025, 6, 5), QTime(14, 3, 9), Qt::UTC));
    append(u"1"_s, SendOutcome::Failed, u"550 mailbox full — try later"_s);
    append(u"2"_s, SendOutcome::Sent, u"250 OK"_s);
    append(u"1"_s, SendOutcome::Sent, u"250 OK"_s);
    append(u"9"_s, SendOutcome::Skipped, u"Dr Gone has no e-mail address"_s); // his row went since
    append(u"2"_s, SendOutcome::Unconfirmed, u"no reply within 20 seconds"_s);
    append(u"1"_s, SendOutcome::Failed, u"another data set"_s, u"DS2"_s);

    QList<SendLogEntry> entries;
    QString error;
    ASSERT_TRUE(ReadSendLog(m_db, u"DS1"_s, false, &entries, &error)) << error.toStdString();
    EXPECT_EQ(lines(entries),
              (QStringList{u"9||skipped|Dr Gone has no e-mail address"_s,
                           u"2|O'Brien|unconfirmed|no reply within 20 seconds"_s, u"1|Oakes|sent|250 OK"_s}));
    EXPECT_EQ(entries.last().sentAt, clock.now());
    ASSERT_TRUE(ReadSendLog(m_db, u"DS1"_s, true, &entries, &error));
    EXPECT_EQ(lines(entries).first(), u"1|Oakes|failed|550 mailbox full — try later"_s);
    EXPECT_EQ(entries.size(), 5);

    QHash<QString, SendOutcome> latest;
    ASSERT_TRUE(LatestOutcomes(m_db, u"DS2"_s, &latest, &error));
    EXPECT_EQ(latest, (QHash<QString, SendOutcome>{{u"1"_s, SendOutcome::Failed}}));
    EXPECT_TRUE(SendStatusText(LatestAttempt(m_db, u"DS1"_s, u"1"_s)).startsWith(u"Sent to 1@example.test on "_s));
    EXPECT_EQ(SendStatusText(LatestAttempt(m_db, u"DS1"_s, u"7"_s)), u"Not sent yet"_s);
}

// One run per data set: a live claim refuses a second, whichever connection asks; a silent one
// or one whose program is gone is taken over, saying so, and its run learns it lost the claim.
// While claimed, an attempt in flight reads as such; once nobody holds the data set it reads as
// unconfirmed, and an attempt cannot begin under a claim that was taken over.
TEST_P(SendLogTest, OneClaimPerDataSetTakenOverOnlyWhenItsRunStopped)
{
    addDoctor({.id = u"1"_s, .fname = u"Alan"_s, .sname = u"Oakes"_s});
    QSqlDatabase other = openAnother(u"other-clerk"_s);
    QString refusal, notice, error;
    SendClaim one, two;
    SendClaim* live = &one;  // on this connection
    SendClaim* taker = &two; // on the other
    ASSERT_TRUE(one.take(m_db, u"DS1"_s, &refusal, &notice)) << refusal.toStdString();
    EXPECT_TRUE(notice.isEmpty());
    EXPECT_FALSE(two.take(other, u"DS1"_s, &refusal, &notice));
    EXPECT_TRUE(refusal.startsWith(u"DS1 is being sent from %1 by "_s.arg(QSysInfo::machineHostName())))
        << refusal.toStdString();
    SendClaim elsewhere; // another data set is free
    EXPECT_TRUE(elsewhere.take(other, u"DS2"_s, &refusal, &notice)) << refusal.toStdString();

    SendLogEntry entry{
        u"DS1"_s, u"1"_s, QString(), u"1@example.test"_s, u"x.pdf"_s, Clock::currentDateTime(), SendOutcome::Sending,
        QString()};
    int attempt = 0;
    ASSERT_TRUE(BeginAttempt(m_db, entry, one.token(), &attempt, &error)) << error.toStdString();
    EXPECT_EQ(LatestAttempt(other, u"DS1"_s, u"1"_s)->outcome, SendOutcome::Sending);

    struct Case
    {
        const char* column;
        QString value;
        QString why;
    };
    for (const Case& c : {Case{"heartbeat", u"2000-01-01T00:00:00.000Z"_s, u"no sign of it for 2 minutes"_s},
                          Case{"pid", u"99999999"_s, u"its program is gone"_s}}) {
        SCOPED_TRACE(c.column);
        exec(u"UPDATE SendClaims SET %1 = '%2' WHERE DataSet = 'DS1'"_s.arg(QLatin1String(c.column), c.value));
        ASSERT_TRUE(taker->take(taker == &two ? other : m_db, u"DS1"_s, &refusal, &notice)) << refusal.toStdString();
        EXPECT_TRUE(notice.contains(u"but that run has stopped (%1); this run takes it over."_s.arg(c.why)))
            << notice.toStdString();
        // The run that lost it may send no more.
        EXPECT_FALSE(ConfirmClaim(m_db, u"DS1"_s, live->token(), &error));
        EXPECT_EQ(error, u"Another run took over sending DS1; this one stops"_s);
        EXPECT_FALSE(BeginAttempt(m_db, entry, live->token(), &attempt, &error));
        std::swap(live, taker);
    }
    one.release();
    two.release();
    const std::optional<SendLogEntry> cutShort = LatestAttempt(m_db, u"DS1"_s, u"1"_s);
    EXPECT_EQ(cutShort->outcome, SendOutcome::Unconfirmed);
    EXPECT_EQ(cutShort->reply, u"The run ended before the server's answer was logged"_s);
    EXPECT_EQ(scalar(u"SELECT count(*) FROM SendLog"_s).toInt(), 1);
    EXPECT_EQ(scalar(u"SELECT count(*) FROM SendClaims"_s).toInt(), 1); // DS2's
    elsewhere.release();
    EXPECT_EQ(scalar(u"SELECT count(*) FROM SendClaims"_s).toInt(), 0);
    other = QSqlDatabase();
    CloseDatabase(u"other-clerk"_s);
}

} // namespace
} // namespace velmar::test
