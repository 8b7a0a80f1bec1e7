#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QString>

#include <functional>

class QEventLoop;

namespace velmar {

// One TCP connection that exchanges text lines. Every wait on the network is cut into slices
// of at most 250 ms during which the application's events are processed, so the windows stay
// usable while the dialogue runs on the user-interface thread. Whatever the user starts during
// a wait runs nested inside it.
class LineConnection : public QObject
{
    Q_OBJECT
public:
    // How a read ended.
    enum class Read { Line, TimedOut, TooLong, Closed, Stopped, NotConnected };
    enum class Wait { Done, TimedOut, Stopped };

    explicit LineConnection(QObject* parent = nullptr);

    void setHost(const QString& host) { m_host = host; }
    void setPort(int port) { m_port = port; }
    QString host() const { return m_host; }
    int port() const { return m_port; }
    // A write that cannot hand its bytes to the network within this time fails.
    void setWriteTimeout(int ms) { m_writeTimeoutMs = ms; }

    // Open from a successful connect until disconnectFromServer, or until a read finds that the
    // server has closed its side. A server close that no read has noticed yet still counts as open.
    bool isOpen() const { return m_open; }
    // Processes pending network events first, so that a server close that has arrived is noticed:
    // the connection is then closed (and closed() emitted). True while it is still open.
    bool stillOpen();

    // Certificates trusted besides the system's, for a server with an authority of its own.
    void setExtraTrust(const QList<QSslCertificate>& certificates) { m_extraTrust = certificates; }

    // Fails when already open (the open connection is left alone), when the host cannot be
    // resolved, the server refuses, or the connection is not made within the time-out. With
    // encrypted, TLS starts at once and the connection opens only when the server's certificate
    // has been verified for the host.
    bool connectToServer(int timeoutMs, QString* error, bool encrypted = false);
    // TLS on the open connection, once the server has agreed to start it. Anything the server
    // sent before is dropped: it came unprotected. A failed handshake closes the connection.
    bool startEncryption(int timeoutMs, QString* error);
    bool isEncrypted() const { return m_socket.isEncrypted(); }
    // After a failed handshake: why the server's certificate was refused, as Qt words it;
    // empty when the certificate was not the reason.
    QString certificateErrors() const;
    // Closes the connection if it is open and then emits closed(); otherwise does nothing.
    void disconnectFromServer();

    // Sends the line followed by CR LF. Fails when the connection is not open or is broken, and
    // when a wait for the server to take earlier lines is stopped.
    bool writeLine(const QByteArray& line, QString* error);
    // Waits until every byte written has been handed to the network while the connection is
    // still open. False when the connection broke first (closing it), the wait was stopped, or
    // the deadline passed.
    bool handOver(const QDeadlineTimer& deadline, QString* error);

    // The next line up to the line feed, without it and without a CR just before it. Lines
    // already received are returned first. TimedOut when the line is not whole by the deadline
    // (the connection stays open); TooLong when more than maxLength bytes precede the line feed
    // or are buffered without one (the bytes stay buffered); Closed when the server has closed
    // its side: the connection is then closed and closed() emitted.
    Read readLine(QByteArray* line, const QDeadlineTimer& deadline, int maxLength, QString* error);
    // After the events that are due have been seen: what the server has sent that nobody read
    // yet, up to its first line feed. Empty when nothing waits.
    QByteArray unread();

    // Asked during every wait; when it answers true the wait ends at once as Stopped. wake()
    // ends the wait under way so that it asks at once.
    void setStopCheck(std::function<bool()> stop) { m_stop = std::move(stop); }
    void wake();
    // While set, waits are not stopped (the last words with a server after a stop).
    void setStoppable(bool stoppable) { m_stoppable = stoppable; }
    // Why a stopped wait failed.
    static QString stoppedText() { return QStringLiteral("Stopped on request"); }

signals:
    void closed();

private:
    void takeIncoming();
    bool peerGone() const;
    QString brokenText() const;
    // Processes events in slices of at most 250 ms until done() holds, the deadline passes or
    // the stop check answers true.
    Wait waitFor(const QDeadlineTimer& deadline, const std::function<bool()>& done);
    bool stopped() const { return m_stoppable && m_stop && m_stop(); }
    void closeSocket();
    bool prepareTls(QString* error);
    bool waitForHandshake(int timeoutMs, QString* error);

    QSslSocket m_socket;
    QList<QSslCertificate> m_extraTrust;
    QList<QSslError> m_sslErrors; // of the last handshake
    QString m_host;
    int m_port = 0;
    int m_writeTimeoutMs = 20000;
    bool m_open = false;
    QByteArray m_buffer;      // received, not yet returned as lines
    qsizetype m_searched = 0; // bytes of m_buffer known to hold no line feed
    std::function<bool()> m_stop;
    bool m_stoppable = true;
    QEventLoop* m_waiting = nullptr; // the wait under way
};

} // namespace velmar
