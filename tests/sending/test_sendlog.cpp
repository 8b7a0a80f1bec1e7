// The send log as stored: one row per attempt, read back per doctor or in turn.
#include "core/clock.h"
#include "sending/sendlog.h"

#include "documents/reportsfixture.h"

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

} // namespace
} // namespace velmar::test
