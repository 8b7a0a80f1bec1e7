#pragma once

#include "mail/lineconnection.h"

#include <QRandomGenerator>
#include <QString>

namespace velmar {

struct AppSettings;
class MailStatus;

// The outcome of a login or of one message. An empty text is success; otherwise the text is
// the complete message for the user. `raised` marks a failure of the connection itself or of a
// file (the callers report it as an error of its own) as against a refusal in the dialogue
// (reported with the caller's wording around it).
struct MailResult
{
    QString text;
    bool raised = false;

    bool ok() const { return text.isEmpty(); }
};

// The connection to the SMTP server and the primitives every command and every message line
// passes through; each traces the line on the MailStatus. One login serves one or more
// messages; the caller disconnects at the end (no QUIT is ever sent).
class SmtpSession
{
public:
    static constexpr int DefaultTimeoutMs = 20000;
    static constexpr int MaxReplyLength = 1024;

    explicit SmtpSession(MailStatus* status = nullptr);
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Connects to Server:SMTPPort, checks the greeting and EHLO, and with a Login performs AUTH
    // LOGIN. A failed login closes the connection it opened, so the next attempt can connect
    // again; a login while already connected fails and leaves that connection alone.
    MailResult SmtpLogin(const AppSettings& settings);
    void Disconnect();
    bool isConnected() const { return m_connection.isOpen(); }

    // One reply line; the empty text on a time-out, a closed connection or a line too long.
    QString ReadReply();
    // Sends one line with CR LF. Fails on a broken connection, and for a text holding a CR or
    // LF, which would be taken by the server as more than one line.
    bool SendLine(const QString& line, QString* error);
    // Base64 of the first 54 bytes of the value (UTF-8): one line for AUTH LOGIN.
    static QString EncodeLoginValue(const QString& value);

    // Time-out of the connect, of each wait for a reply and of a stalled write.
    void setTimeout(int ms);
    int timeout() const { return m_timeoutMs; }

    // Generator of the message boundaries; tests may seed it.
    QRandomGenerator& random() { return m_random; }

private:
    void showStatus(const QString& text);
    MailResult loginFailed(const QString& text, bool raised = false);

    MailStatus* m_status;
    LineConnection m_connection;
    int m_timeoutMs = DefaultTimeoutMs;
    QRandomGenerator m_random;
};

} // namespace velmar
