#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace velmar::test {

// An SMTP-like peer on 127.0.0.1 whose replies a test scripts, to produce the faults a real
// server rarely shows. It runs on the test's thread: it answers while the client under test
// waits, since the client's waits process events.
class ScriptedServer : public QObject
{
    Q_OBJECT
public:
    ScriptedServer();

    quint16 port() const { return m_server.serverPort(); }

    // The next replies of a step: "GREETING", "EHLO", "STARTTLS", "AUTH", "USER", "PASS", "MAIL",
    // "RCPT", "DATA", "END" (after the final "."), "RSET", "QUIT" (default "221 bye" and a hang-up). AUTH with an
    // initial response (PLAIN, XOAUTH2) is answered by "AUTH" (default 235); a 3xx there makes the next line "PASS".
    // Scripted replies are used once each, in
    // order, then the step's default. A reply is a list of chunks written with a pause between
    // them, so they arrive as separate packets; an empty list sends nothing, and the chunk
    // hangUpChunk() closes the connection instead.
    void script(const QString& step, const QList<QByteArray>& chunks);
    void send(const QList<QByteArray>& chunks);
    static QByteArray hangUpChunk() { return QByteArrayLiteral("<hang up>"); }
    void hangUp();

    // Bounded waits (5 s) for the client's side of the connection.
    bool waitForClient();
    bool waitForHangUp();
    bool waitForLines(int count);
    bool clientConnected() const;

    // Close the connection after this many lines of message data (0: at once after the go-ahead;
    // -1: never).
    int hangUpAfterDataLines = -1;
    // Told of each completed message before it is answered, while the client waits for the answer.
    std::function<void()> onMessage;
    // Connections after this are refused.
    void stopListening() { m_server.close(); }

    int connections = 0;
    QList<QByteArray> received;        // every line from the client, without CR LF
    QByteArray raw;                    // every byte from the client
    QList<QList<QByteArray>> messages; // completed messages, lines as sent (still dot-stuffed)
    // The envelope of each completed message.
    struct Envelope
    {
        QByteArray from;
        QList<QByteArray> recipients;
    };
    QList<Envelope> envelopes;

private:
    enum class State { Command, User, Password, Data };
    void accept();
    void readLines();
    void handle(const QByteArray& line);
    void reply(const QString& step, const QByteArray& fallback);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_pending;
    State m_state = State::Command;
    QList<QByteArray> m_data;
    Envelope m_envelope; // of the transaction under way
    QMap<QString, QList<QList<QByteArray>>> m_scripts;
};

} // namespace velmar::test
