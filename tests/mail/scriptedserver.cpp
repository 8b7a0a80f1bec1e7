#include "scriptedserver.h"

#include <QTest>
#include <QTimer>

namespace velmar::test {

ScriptedServer::ScriptedServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::accept);
    m_server.listen(QHostAddress::LocalHost, 0);
}

void ScriptedServer::script(const QString& step, const QList<QByteArray>& chunks)
{
    m_scripts[step].append(chunks);
}

void ScriptedServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++connections;
        m_client = socket;
        m_pending.clear();
        m_state = State::Command;
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedServer::readLines);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        reply(QStringLiteral("GREETING"), "220 scripted ready\r\n");
    }
}

void ScriptedServer::send(const QList<QByteArray>& chunks)
{
    for (int i = 0; i < chunks.size(); ++i) {
        QPointer<QTcpSocket> socket = m_client;
        const QByteArray chunk = chunks.at(i);
        auto write = [socket, chunk] {
            if (socket && chunk == hangUpChunk()) {
                socket->disconnectFromHost();
            } else if (socket && socket->state() == QAbstractSocket::ConnectedState) {
                socket->write(chunk);
                socket->flush();
            }
        };
        if (i == 0)
            write();
        else
            QTimer::singleShot(30 * i, this, write);
    }
}

void ScriptedServer::hangUp()
{
    if (m_client)
        m_client->disconnectFromHost();
}

bool ScriptedServer::clientConnected() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

bool ScriptedServer::waitForClient()
{
    return QTest::qWaitFor([this] { return clientConnected(); }, 5000);
}

bool ScriptedServer::waitForHangUp()
{
    return QTest::qWaitFor([this] { return !clientConnected(); }, 5000);
}

bool ScriptedServer::waitForLines(int count)
{
    return QTest::qWaitFor([this, count] { return received.size() >= count; }, 5000);
}

void ScriptedServer::reply(const QString& step, const QByteArray& fallback)
{
    QList<QList<QByteArray>>& queue = m_scripts[step];
    send(queue.isEmpty() ? QList<QByteArray>{fallback} : queue.takeFirst());
}

void ScriptedServer::readLines()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    const QByteArray bytes = socket->readAll();
    if (socket != m_client)
        return;
    raw.append(bytes);
    m_pending.append(bytes);
    qsizetype feed;
    while (m_client && (feed = m_pending.indexOf('\n')) >= 0) {
        QByteArray line = m_pending.left(feed);
        m_pending.remove(0, feed + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        received.append(line);
        handle(line);
    }
}

void ScriptedServer::handle(const QByteArray& line)
{
    // The state follows what the default reply would have done, or what the scripted one says.
    auto next = [this](const QString& step) {
        const QList<QList<QByteArray>>& queue = m_scripts[step];
        return queue.isEmpty() || queue.first().isEmpty() ? QByteArray() : queue.first().first();
    };
    switch (m_state) {
    case State::Data:
        if (line == ".") {
            messages.append(m_data);
            envelopes.append(m_envelope);
            m_data.clear();
            m_envelope = Envelope();
            m_state = State::Command;
            if (onMessage)
                onMessage();
            reply(QStringLiteral("END"), "250 queued\r\n");
            return;
        }
        m_data.append(line);
        if (hangUpAfterDataLines >= 0 && m_data.size() >= hangUpAfterDataLines)
            hangUp();
        return;
    case State::User: {
        const QByteArray scripted = next(QStringLiteral("USER"));
        m_state = scripted.isEmpty() || scripted.startsWith('3') ? State::Password : State::Command;
        reply(QStringLiteral("USER"), "334 UGFzc3dvcmQ6\r\n");
        return;
    }
    case State::Password:
        m_state = State::Command;
        reply(QStringLiteral("PASS"), "235 2.7.0 Authentication successful\r\n");
        return;
    case State::Command:
        break;
    }
    const QByteArray verb = line.left(4).toUpper();
    if (verb == "EHLO") {
        reply(QStringLiteral("EHLO"), "250-scripted\r\n250-AUTH LOGIN\r\n250 HELP\r\n");
    } else if (verb == "AUTH") {
        const QByteArray scripted = next(QStringLiteral("AUTH"));
        const bool initialResponse = line.count(' ') >= 2;
        if (scripted.isEmpty() ? !initialResponse : scripted.startsWith('3'))
            m_state = initialResponse ? State::Password : State::User;
        reply(QStringLiteral("AUTH"),
              initialResponse ? "235 2.7.0 Authentication successful\r\n" : "334 VXNlcm5hbWU6\r\n");
    } else if (verb == "MAIL") {
        m_envelope = Envelope{line.mid(10), {}};
        reply(QStringLiteral("MAIL"), "250 OK\r\n");
    } else if (verb == "RCPT") {
        const QByteArray scripted = next(QStringLiteral("RCPT"));
        if (scripted.isEmpty() || scripted.startsWith("250"))
            m_envelope.recipients.append(line.mid(8));
        reply(QStringLiteral("RCPT"), "250 OK\r\n");
    } else if (verb == "DATA") {
        const QByteArray scripted = next(QStringLiteral("DATA"));
        if (scripted.isEmpty() || scripted.startsWith("354"))
            m_state = State::Data;
        reply(QStringLiteral("DATA"), "354 go ahead\r\n");
        if (m_state == State::Data && hangUpAfterDataLines == 0)
            hangUp();
    } else if (verb == "RSET") {
        m_envelope = Envelope();
        reply(QStringLiteral("RSET"), "250 reset\r\n");
    } else if (verb == "STAR") {
        reply(QStringLiteral("STARTTLS"), "454 4.7.0 TLS not available\r\n");
    } else if (verb == "QUIT") {
        QList<QList<QByteArray>>& queue = m_scripts[QStringLiteral("QUIT")];
        send(queue.isEmpty() ? QList<QByteArray>{"221 bye\r\n", hangUpChunk()} : queue.takeFirst());
    } else {
        send({"500 unknown command\r\n"});
    }
}

} // namespace velmar::test
