#pragma once

#include "mail/lineconnection.h"

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmar {

struct AppSettings;
class MailStatus;

// How a login or one message ended. Unconfirmed: the whole message went but the server's answer
// to it never came, so it may have been delivered.
enum class MailOutcome { Done, Failed, Unconfirmed };

// The outcome of a login or of one message. An empty text is success; otherwise the text is the
// message for the user. A refusal in the dialogue is worded to go inside the caller's own message
// ("... logging into email server", "... sending email to ..."); a text that names what it is about
// by itself (standsAlone) is shown as it is.
struct MailResult
{
    MailOutcome outcome = MailOutcome::Done;
    QString text;
    // The server's last reply line, or what went wrong with the connection or a file.
    QString reason;
    bool standsAlone = false;
    // The message's headers as they went, when it went whole (sent or unconfirmed).
    QString headers;

    bool ok() const { return outcome == MailOutcome::Done; }
    // As the user sees it: a refusal followed by the caller's words (" logging into email
    // server"), any other text as it stands.
    QString within(const QString& callersWords) const { return ok() || standsAlone ? text : text + callersWords; }
    static MailResult failed(const QString& text, const QString& reason, bool standsAlone = false)
    {
        return MailResult{MailOutcome::Failed, text, reason, standsAlone, QString()};
    }
};

// One reply of the server, read to its last line; control characters in it are shown as "?".
struct SmtpReply
{
    QStringList lines;
    int code = 0;  // of the last line; 0 when it holds none
    QString error; // why the reply could not be read whole; the dialogue is then over

    QString last() const { return lines.isEmpty() ? QString() : lines.last(); }
    bool whole() const { return error.isEmpty(); }
    // The last line, or why there is none to trust.
    QString reason() const { return whole() ? last() : error; }
};

// How a line shows in the trace.
enum class LineTrace { Shown, Credentials, Untraced };

// The connection to the SMTP server and the primitives every command and every message line
// passes through; each traces the line on the MailStatus, credentials never. One login serves one
// or more messages; the caller ends with Quit, or just disconnects.
class SmtpSession
{
public:
    static constexpr int DefaultTimeoutMs = 20000;
    // A reply longer than these ends the dialogue: nothing a server needs to say is that long.
    static constexpr int MaxReplyLength = 1024; // bytes of one line
    static constexpr int MaxReplyLines = 100;
    static constexpr int MaxReplyBytes = 64 * 1024;
    static constexpr int QuitTimeoutMs = 2000;
    // After a stop, how long the answer to a whole message is still waited for.
    static constexpr int StopGraceMs = 1000;

    explicit SmtpSession(MailStatus* status = nullptr);
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Connects to Server:SMTPPort (with TLS as Security says), checks the greeting and EHLO, and
    // with a Login signs in by AuthMethod. A failed login closes the connection it opened, so the
    // next attempt can connect again; a login while already connected fails and leaves that
    // connection alone.
    MailResult SmtpLogin(const AppSettings& settings);
    void Disconnect();
    // Ends the dialogue properly: QUIT and its reply, within QuitTimeoutMs also after a stop, then
    // the connection closes. Nothing when not connected.
    void Quit();
    bool isConnected() const { return m_connection.isOpen(); }
    // Whether the connection can still carry a message: a server that hung up while we were busy
    // elsewhere, or that said something nobody asked for, is noticed here and the connection closed.
    bool stillConnected();
    bool isEncrypted() const { return m_connection.isOpen() && m_connection.isEncrypted(); }

    // The reply to command (a name such as "MAIL FROM"; empty for the greeting), read to its last
    // line within one time-out. A reply that is late, too long or cut off by the server leaves the
    // dialogue out of step for good: the connection is closed and the reply's error says why. A
    // stop leaves it open for Quit; with graceOnStop the reply is still waited for StopGraceMs.
    SmtpReply ReadReply(const QString& command = QString(), bool graceOnStop = false);
    // Sends one line with CR LF. Fails on a broken connection, which is then closed, and for a
    // text holding a CR or LF, which would be taken by the server as more than one line.
    bool SendLine(const QString& line, QString* error, LineTrace trace = LineTrace::Shown);
    // Sends a command named name ("MAIL FROM"; never the credentials it may carry). Something the
    // server sent before it, which answers no command, ends the dialogue instead: *failure then
    // says so, as does a failed send.
    bool SendCommand(const QString& line, const QString& name, SmtpReply* failure, LineTrace trace = LineTrace::Shown);
    // SendCommand, then ReadReply.
    SmtpReply Command(const QString& line, const QString& name, LineTrace trace = LineTrace::Shown);
    // After the last line of a message: true once all of it has been handed to the network while
    // the connection was open. Otherwise the connection is closed and *error says why.
    bool HandOver(QString* error);
    // Base64 of the whole value (UTF-8) on one line, as AUTH LOGIN takes each credential: a value
    // cut to the 72 characters of an attachment line would never sign in.
    static QString EncodeLoginValue(const QString& value);
    // Shows a text on the trace, as for a line exchanged.
    void showStatus(const QString& text);

    // Time-out of the connect, of each reply and of a stalled write.
    void setTimeout(int ms);
    int timeout() const { return m_timeoutMs; }
    // Asked during every wait; true ends the wait at once, as a failed step. wake() makes the
    // wait under way ask at once.
    void setStopCheck(std::function<bool()> stop) { m_connection.setStopCheck(std::move(stop)); }
    void wake() { m_connection.wake(); }

    // Generator of the message boundaries and identifiers; tests may seed it.
    QRandomGenerator& random() { return m_random; }

private:
    MailResult loginFailed(const QString& text, const QString& reason, bool standsAlone = false);
    MailResult replyFailed(const QString& prefix, const SmtpReply& reply);
    QString host() const { return m_connection.host(); }
    QString readFailure(LineConnection::Read read, const QString& command, const QString& error) const;
    SmtpReply ehlo();
    bool offers(const QString& extension) const;
    MailResult authenticate(const AppSettings& settings, const QString& secret, const QString& method);

    MailStatus* m_status;
    LineConnection m_connection;
    int m_timeoutMs = DefaultTimeoutMs;
    QRandomGenerator m_random;
    QStringList m_extensions; // keywords of the last EHLO reply
};

} // namespace velmar
