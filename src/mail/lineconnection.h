#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QString>

#include <functional>

namespace velmar {

// One TCP connection that exchanges text lines. Every wait on the network is cut into slices
// of at most 250 ms during which the application's events are processed, so the windows stay
// usable while the dialogue runs on the user-interface thread. Whatever the user starts during
// a wait runs nested inside it.
class LineConnection : public QObject
{
    Q_OBJECT
public:
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

    // Sends the line followed by CR LF. Fails when the connection is not open or is broken.
    bool writeLine(const QByteArray& line, QString* error);

    // The next line up to the line feed, without it and without a CR just before it. Lines
    // already received are returned first. When no byte arrives within timeoutMs of any one
    // wait, returns true with an empty line, sets *timedOut and leaves the connection open.
    // Fails when more than maxLength bytes precede the line feed or are buffered without one
    // (the bytes stay buffered), and when the server has closed its side: the connection is
    // then closed and closed() emitted.
    bool readLine(QByteArray* line, int timeoutMs, int maxLength, QString* error, bool* timedOut = nullptr);

signals:
    void closed();

private:
    void takeIncoming();
    bool peerGone() const;
    QString brokenText() const;
    // Processes events in slices of at most 250 ms until done() holds or timeoutMs has passed;
    // returns done().
    bool waitFor(int timeoutMs, const std::function<bool()>& done);
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
};

} // namespace velmar
