#include "mail/lineconnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSslConfiguration>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace velmar {

namespace {

constexpr int sliceMs = 250;
// Lines are collected in the socket's buffer and handed to the network in pieces of this size,
// which keeps a long message from costing one system call per line.
constexpr qint64 flushThreshold = 64 * 1024;
// More than this waiting to be sent means the server is not keeping up: wait for it.
constexpr qint64 maxPending = 1024 * 1024;
// What the socket reads ahead of us: a server that floods the connection costs no more.
constexpr qint64 readAhead = 256 * 1024;
// Of what nobody asked for, enough to name it.
constexpr qsizetype maxUnreadShown = 200;

// A negative time would mean no deadline at all.
QDeadlineTimer deadlineIn(int ms)
{
    return QDeadlineTimer(std::max(ms, 0));
}

// Why a wait ended without its event: the socket's own reason when it settled otherwise.
QString waitText(LineConnection::Wait wait, const QString& settled, const QString& timedOut)
{
    switch (wait) {
    case LineConnection::Wait::Stopped:
        return LineConnection::stoppedText();
    case LineConnection::Wait::TimedOut:
        return timedOut;
    case LineConnection::Wait::Done:
        break;
    }
    return settled;
}

} // namespace

LineConnection::LineConnection(QObject* parent) : QObject(parent)
{
    m_socket.setReadBufferSize(readAhead);
    connect(&m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) { m_sslErrors = errors; });
}

void LineConnection::takeIncoming()
{
    if (m_socket.bytesAvailable() > 0)
        m_buffer.append(m_socket.readAll());
}

bool LineConnection::peerGone() const
{
    return m_socket.state() != QAbstractSocket::ConnectedState;
}

QString LineConnection::brokenText() const
{
    if (m_socket.error() != QAbstractSocket::UnknownSocketError)
        return m_socket.errorString();
    return QStringLiteral("Connection closed by the server.");
}

LineConnection::Wait LineConnection::waitFor(const QDeadlineTimer& deadline, const std::function<bool()>& done)
{
    while (!done()) {
        if (stopped())
            return Wait::Stopped;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return done() ? Wait::Done : Wait::TimedOut;
        QEventLoop loop;
        QTimer slice;
        slice.setSingleShot(true);
        connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(&m_socket, &QSslSocket::readyRead, &loop, &QEventLoop::quit);
        connect(&m_socket, &QSslSocket::bytesWritten, &loop, &QEventLoop::quit);
        connect(&m_socket, &QSslSocket::encryptedBytesWritten, &loop, &QEventLoop::quit);
        connect(&m_socket, &QSslSocket::stateChanged, &loop, &QEventLoop::quit);
        connect(&m_socket, &QSslSocket::errorOccurred, &loop, &QEventLoop::quit);
        connect(&m_socket, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
        slice.start(static_cast<int>(left < 0 ? sliceMs : std::min<qint64>(left, sliceMs)));
        QEventLoop* outer = std::exchange(m_waiting, &loop);
        loop.exec();
        m_waiting = outer;
    }
    return Wait::Done;
}

void LineConnection::wake()
{
    if (m_waiting)
        m_waiting->quit();
}

bool LineConnection::prepareTls(QString* error)
{
    if (!QSslSocket::supportsSsl()) {
        *error = QStringLiteral("TLS is not available: the OpenSSL library (libssl3) could not be loaded.");
        return false;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // Setting any authority replaces the system's on-demand store: name both.
    if (!m_extraTrust.isEmpty())
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_extraTrust);
    m_socket.setSslConfiguration(config);
    m_socket.setPeerVerifyName(m_host);
    m_sslErrors.clear();
    return true;
}

bool LineConnection::waitForHandshake(int timeoutMs, QString* error)
{
    const Wait wait = waitFor(deadlineIn(timeoutMs), [this] {
        return m_socket.isEncrypted() || m_socket.state() == QAbstractSocket::UnconnectedState;
    });
    if (m_socket.isEncrypted())
        return true;
    *error = waitText(wait, m_socket.errorString(), QStringLiteral("TLS handshake timed out."));
    return false;
}

QString LineConnection::certificateErrors() const
{
    QStringList reasons;
    for (const QSslError& e : m_sslErrors)
        reasons.append(e.errorString());
    return reasons.join(QStringLiteral("; "));
}

bool LineConnection::connectToServer(int timeoutMs, QString* error, bool encrypted)
{
    if (m_open) {
        *error = QStringLiteral("Already connected.");
        return false;
    }
    if (m_port < 0 || m_port > 65535) {
        *error = QStringLiteral("Port %1 is out of range.").arg(m_port);
        return false;
    }
    m_socket.abort();
    m_buffer.clear();
    m_searched = 0;
    m_sslErrors.clear();
    if (encrypted) {
        if (!prepareTls(error))
            return false;
        m_socket.connectToHostEncrypted(m_host, static_cast<quint16>(m_port), m_host);
        if (!waitForHandshake(timeoutMs, error)) {
            m_socket.abort();
            return false;
        }
        m_open = true;
        return true;
    }
    m_socket.connectToHost(m_host, static_cast<quint16>(m_port));
    const Wait wait = waitFor(deadlineIn(timeoutMs), [this] {
        const auto state = m_socket.state();
        return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
    });
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_open = true;
        return true;
    }
    *error = waitText(wait, m_socket.errorString(), QStringLiteral("Connection timed out."));
    m_socket.abort();
    return false;
}

bool LineConnection::startEncryption(int timeoutMs, QString* error)
{
    if (!m_open || peerGone()) {
        *error = m_open ? brokenText() : QStringLiteral("Not connected.");
        return false;
    }
    if (!prepareTls(error)) {
        closeSocket();
        return false;
    }
    // Whatever arrived after the server's go-ahead could have been put there by anyone on the way.
    takeIncoming();
    m_buffer.clear();
    m_searched = 0;
    m_socket.startClientEncryption();
    if (!waitForHandshake(timeoutMs, error)) {
        closeSocket();
        return false;
    }
    return true;
}

void LineConnection::closeSocket()
{
    m_socket.abort();
    m_buffer.clear();
    m_searched = 0;
    if (m_open) {
        m_open = false;
        emit closed();
    }
}

bool LineConnection::stillOpen()
{
    if (!m_open)
        return false;
    QCoreApplication::processEvents();
    takeIncoming();
    if (peerGone())
        closeSocket();
    return m_open;
}

void LineConnection::disconnectFromServer()
{
    if (!m_open)
        return;
    m_socket.disconnectFromHost();
    closeSocket();
}

bool LineConnection::writeLine(const QByteArray& line, QString* error)
{
    if (!m_open) {
        *error = QStringLiteral("Not connected.");
        return false;
    }
    if (peerGone()) {
        *error = brokenText();
        return false;
    }
    QByteArray data;
    data.reserve(line.size() + 2);
    data.append(line).append("\r\n");
    if (m_socket.write(data) != data.size()) {
        *error = brokenText();
        return false;
    }
    if (m_socket.bytesToWrite() < flushThreshold)
        return true;
    m_socket.flush();
    // A long message keeps the windows alive too, and a server that hangs up is noticed here.
    QCoreApplication::processEvents();
    if (m_socket.bytesToWrite() >= maxPending) {
        const Wait wait = waitFor(deadlineIn(m_writeTimeoutMs),
                                  [this] { return m_socket.bytesToWrite() < maxPending || peerGone(); });
        if (wait != Wait::Done) {
            *error = waitText(wait, QString(), QStringLiteral("Write timed out."));
            return false;
        }
    }
    if (peerGone()) {
        *error = brokenText();
        return false;
    }
    return true;
}

bool LineConnection::handOver(const QDeadlineTimer& deadline, QString* error)
{
    const auto pending = [this] { return m_socket.bytesToWrite() + m_socket.encryptedBytesToWrite(); };
    if (m_open && !peerGone())
        m_socket.flush();
    const Wait wait = waitFor(deadline, [&] { return !m_open || peerGone() || pending() == 0; });
    // A close that has arrived meanwhile means the last bytes reached nobody who reads them.
    if (wait == Wait::Done && m_open && !peerGone()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        takeIncoming();
    }
    if (m_open && !peerGone() && pending() == 0)
        return true;
    if (!m_open)
        *error = QStringLiteral("Not connected.");
    else if (peerGone())
        *error = brokenText();
    else
        *error = waitText(wait, QString(), QStringLiteral("Write timed out."));
    closeSocket();
    return false;
}

LineConnection::Read LineConnection::readLine(QByteArray* line, const QDeadlineTimer& deadline, int maxLength,
                                              QString* error)
{
    line->clear();
    if (m_open && !peerGone())
        m_socket.flush();
    for (;;) {
        takeIncoming();
        const qsizetype feed = m_buffer.indexOf('\n', m_searched);
        if (feed >= 0) {
            if (feed > maxLength) {
                m_searched = feed;
                *error = QStringLiteral("Line is longer than %1 bytes.").arg(maxLength);
                return Read::TooLong;
            }
            const qsizetype end = (feed > 0 && m_buffer.at(feed - 1) == '\r') ? feed - 1 : feed;
            *line = m_buffer.left(end);
            m_buffer.remove(0, feed + 1);
            m_searched = 0;
            return Read::Line;
        }
        m_searched = m_buffer.size();
        if (m_buffer.size() > maxLength) {
            *error = QStringLiteral("Line is longer than %1 bytes.").arg(maxLength);
            return Read::TooLong;
        }
        if (!m_open) {
            *error = QStringLiteral("Not connected.");
            return Read::NotConnected;
        }
        if (peerGone()) {
            *error = brokenText();
            closeSocket();
            return Read::Closed;
        }
        const Wait wait = waitFor(deadline, [this] { return m_socket.bytesAvailable() > 0 || peerGone(); });
        if (wait == Wait::Stopped) {
            *error = stoppedText();
            return Read::Stopped;
        }
        if (wait == Wait::TimedOut) {
            *error = QStringLiteral("Timed out.");
            return Read::TimedOut;
        }
    }
}

QByteArray LineConnection::unread()
{
    if (m_open && !peerGone()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        takeIncoming();
    }
    const qsizetype feed = m_buffer.indexOf('\n');
    QByteArray line = m_buffer.left(std::min(feed < 0 ? m_buffer.size() : feed, maxUnreadShown));
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace velmar
