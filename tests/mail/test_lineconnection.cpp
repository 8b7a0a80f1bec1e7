#include "mail/base64encoder.h"
#include "mail/lineconnection.h"
#include "mail/smtpsession.h"

#include "scriptedserver.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace velmar::test {
namespace {

class LineConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.script(QStringLiteral("GREETING"), {}); // the tests send what they need
        conn.setHost(QStringLiteral("127.0.0.1"));
        conn.setPort(server.port());
        QString error;
        ASSERT_TRUE(conn.connectToServer(5000, &error)) << error.toStdString();
        ASSERT_TRUE(server.waitForClient());
    }

    QByteArray read(int timeoutMs = 5000)
    {
        QByteArray line;
        QString error;
        result = conn.readLine(&line, QDeadlineTimer(timeoutMs), 1024, &error);
        ok = result == LineConnection::Read::Line || result == LineConnection::Read::TimedOut;
        lastError = error;
        return line;
    }

    ScriptedServer server;
    LineConnection conn;
    LineConnection::Read result = LineConnection::Read::NotConnected;
    bool ok = false;
    QString lastError;
};

TEST_F(LineConnectionTest, LineEndsAreTakenOffButAStrayCrStays)
{
    server.send({"250 OK\r\n250 OK\nA\rB\r\n"});
    EXPECT_EQ(read(), "250 OK");
    EXPECT_EQ(read(), "250 OK");
    EXPECT_EQ(read(), "A\rB");
}

TEST_F(LineConnectionTest, LineSplitAcrossPacketsIsJoined)
{
    server.send({"25", "0 O", "K\r", "\n"});
    EXPECT_EQ(read(), "250 OK");
    EXPECT_TRUE(ok);
}

TEST_F(LineConnectionTest, BufferedLinesComeBeforeTheHangUpIsReported)
{
    QSignalSpy closed(&conn, &LineConnection::closed);
    server.send({"one\r\ntwo\r\npartial"});
    server.hangUp();
    // Let the client's socket see the close before anything is read.
    ASSERT_TRUE(server.waitForHangUp());
    QTest::qWait(50);
    EXPECT_EQ(read(), "one");
    EXPECT_EQ(read(0), "two"); // already here: no wait needed
    EXPECT_TRUE(ok);
    EXPECT_TRUE(read().isEmpty());
    EXPECT_FALSE(ok); // the unfinished line does not hide the hang-up
    EXPECT_FALSE(lastError.isEmpty());
    EXPECT_FALSE(conn.isOpen());
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(LineConnectionTest, LineLengthLimitCountsEveryByteBeforeTheLineFeed)
{
    const QByteArray full(1024, 'a');
    const QByteArray withCr = QByteArray(1023, 'c') + '\r';
    const QByteArray tooLong(1025, 'b');
    server.send({full + '\n' + withCr + '\n' + tooLong + '\n'});
    EXPECT_EQ(read(), full);
    EXPECT_EQ(read(), QByteArray(1023, 'c'));
    EXPECT_TRUE(ok);
    read();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(lastError.contains(QStringLiteral("1024")));
    EXPECT_TRUE(conn.isOpen()); // an over-long line is an error, not a hang-up
}

TEST_F(LineConnectionTest, TooManyBytesWithoutLineFeedFailWithoutWaiting)
{
    server.send({QByteArray(1025, 'x')});
    read(10000); // waiting for the rest of the line would end in a time-out, not an error
    EXPECT_FALSE(ok);
    EXPECT_TRUE(conn.isOpen());
}

TEST_F(LineConnectionTest, TimeOutGivesAnEmptyLineAndKeepsTheConnection)
{
    EXPECT_TRUE(read(30).isEmpty());
    EXPECT_EQ(result, LineConnection::Read::TimedOut);
    EXPECT_TRUE(conn.isOpen());
    server.send({"late\r\n"});
    EXPECT_EQ(read(), "late");
}

TEST_F(LineConnectionTest, WrittenLinesEndInCrLf)
{
    QString error;
    ASSERT_TRUE(conn.writeLine("EHLO x", &error));
    ASSERT_TRUE(conn.writeLine("", &error));
    // Reading flushes what was written.
    read(50);
    ASSERT_TRUE(server.waitForLines(2));
    EXPECT_EQ(server.raw, "EHLO x\r\n\r\n");
}

TEST_F(LineConnectionTest, UnnoticedHangUpStillCountsAsConnected)
{
    server.hangUp();
    ASSERT_TRUE(server.waitForHangUp());
    QString error;
    EXPECT_FALSE(conn.connectToServer(5000, &error));
    EXPECT_EQ(error, QStringLiteral("Already connected."));
    // A read notices; then a new connection can be made.
    read();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(conn.writeLine("NOOP", &error));
    EXPECT_TRUE(conn.connectToServer(5000, &error)) << error.toStdString();
    EXPECT_TRUE(server.waitForClient());
    EXPECT_EQ(server.connections, 2);
}

TEST(LineConnection, RefusedConnectionIsAnError)
{
    quint16 port;
    {
        ScriptedServer gone;
        port = gone.port();
    }
    LineConnection conn;
    conn.setHost(QStringLiteral("127.0.0.1"));
    conn.setPort(port);
    QString error;
    EXPECT_FALSE(conn.connectToServer(5000, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(conn.isOpen());
}

// 'MMM' encodes to "TU1N"; a single 'M' to "TQ==", two to "TU0=".
const QString fullLine = QStringLiteral("TU1N").repeated(18);

TEST(Base64, PiecesOf54BytesGive72CharacterLines)
{
    for (const auto& [size, tail] :
         {std::pair<int, QString>{54, QString()}, {55, QStringLiteral("TQ==")}, {56, QStringLiteral("TU0=")}}) {
        SCOPED_TRACE(size);
        QByteArray data(size, 'M');
        QBuffer stream(&data);
        stream.open(QIODevice::ReadOnly);
        QString error;
        EXPECT_EQ(EncodeBase64(stream, 54, &error), fullLine);
        EXPECT_EQ(EncodeBase64(stream, 54, &error), tail);
        EXPECT_TRUE(error.isEmpty());

        QStringList expected{fullLine};
        if (!tail.isEmpty())
            expected.append(tail);
        EXPECT_EQ(Base64Lines(data), expected);
    }
    EXPECT_TRUE(Base64Lines(QByteArray()).isEmpty());
    EXPECT_EQ(Base64Lines(QByteArray(108, 'M')), QStringList({fullLine, fullLine}));
}

TEST(Base64, CountMustBeAMultipleOfThree)
{
    QByteArray data(10, 'M');
    QBuffer stream(&data);
    stream.open(QIODevice::ReadOnly);
    QString error;
    EXPECT_TRUE(EncodeBase64(stream, 4, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

TEST(Base64, LoginValueIsOneWholeLine)
{
    EXPECT_EQ(SmtpSession::EncodeLoginValue(QStringLiteral("clerk")), QStringLiteral("Y2xlcms="));
    // Past the 54 bytes of an attachment line, still one line and nothing cut.
    EXPECT_EQ(SmtpSession::EncodeLoginValue(QString(60, u'M')), fullLine + QStringLiteral("TU1NTU1N"));
    EXPECT_EQ(SmtpSession::EncodeLoginValue(QString()), QString());
}

} // namespace
} // namespace velmar::test
