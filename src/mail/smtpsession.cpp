#include "mail/smtpsession.h"

#include "core/appsettings.h"
#include "core/passwordcommand.h"
#include "mail/mailstatus.h"
#include "mail/mimetext.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>

namespace velmar {

namespace {

enum class Security { ByPortAndOffer, StartTls, Tls, None };

bool startsWithCode(const QString& line)
{
    if (line.size() < 3)
        return false;
    for (int i = 0; i < 3; ++i)
        if (line.at(i) < u'0' || line.at(i) > u'9')
            return false;
    return true;
}

// "250-" lines come before the last line of a reply.
bool isContinuation(const QString& line)
{
    return startsWithCode(line) && line.size() > 3 && line.at(3) == u'-';
}

// The three digits of a reply's last line, when followed by nothing or a blank; otherwise 0.
int replyCode(const QString& line)
{
    if (!startsWithCode(line) || (line.size() > 3 && line.at(3) != u' '))
        return 0;
    return line.left(3).toInt();
}

QString base64(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

} // namespace

SmtpSession::SmtpSession(MailStatus* status) : m_status(status), m_random(QRandomGenerator::securelySeeded())
{
    QObject::connect(&m_connection, &LineConnection::closed, &m_connection,
                     [this] { showStatus(QStringLiteral("SMTP Connection Closed")); });
    m_connection.setWriteTimeout(m_timeoutMs);
}

void SmtpSession::setTimeout(int ms)
{
    m_timeoutMs = ms;
    m_connection.setWriteTimeout(ms);
}

void SmtpSession::showStatus(const QString& text)
{
    if (m_status)
        m_status->showStatus(text);
}

SmtpReply SmtpSession::ReadReply(const QString& command, bool graceOnStop)
{
    SmtpReply reply;
    QDeadlineTimer deadline(std::max(m_timeoutMs, 0));
    bool stopped = false;
    const auto stoppableAgain = qScopeGuard([this] { m_connection.setStoppable(true); });
    qsizetype bytes = 0;
    for (;;) {
        QByteArray line;
        QString error;
        const LineConnection::Read read = m_connection.readLine(&line, deadline, MaxReplyLength, &error);
        if (read == LineConnection::Read::Stopped && graceOnStop && !stopped) {
            // The answer that says whether a whole message was delivered is worth a moment more.
            stopped = true;
            m_connection.setStoppable(false);
            deadline = std::min(deadline, QDeadlineTimer(StopGraceMs));
            continue;
        }
        if (read != LineConnection::Read::Line) {
            reply.error = stopped ? LineConnection::stoppedText() : readFailure(read, command, error);
            showStatus(QStringLiteral("S: "));
            // A stop leaves the last words to Quit.
            if (!stopped && read != LineConnection::Read::Stopped)
                Disconnect();
            return reply;
        }
        bytes += line.size() + 2;
        const QString text = ShownText(QString::fromUtf8(line));
        showStatus(QStringLiteral("S: ") + text);
        reply.lines.append(text);
        if (!isContinuation(text)) {
            reply.code = replyCode(text);
            return reply;
        }
        if (reply.lines.size() >= MaxReplyLines)
            reply.error = QStringLiteral("The server %1 sent a reply of more than %2 lines")
                              .arg(host(), QString::number(MaxReplyLines));
        else if (bytes > MaxReplyBytes)
            reply.error = QStringLiteral("The server %1 sent a reply of more than %2 KB")
                              .arg(host(), QString::number(MaxReplyBytes / 1024));
        if (!reply.error.isEmpty())
            break;
    }
    // Whatever the server sends next could be taken for the answer to a later command.
    Disconnect();
    return reply;
}

QString SmtpSession::readFailure(LineConnection::Read read, const QString& command, const QString& error) const
{
    const QString seconds = QString::number(m_timeoutMs / 1000.0);
    switch (read) {
    case LineConnection::Read::TimedOut:
        return command.isEmpty()
                   ? QStringLiteral("The server %1 did not greet within %2 s").arg(host(), seconds)
                   : QStringLiteral("The server %1 did not answer %2 within %3 s").arg(host(), command, seconds);
    case LineConnection::Read::TooLong:
        return QStringLiteral("The server %1 sent a reply line longer than %2 bytes")
            .arg(host(), QString::number(MaxReplyLength));
    case LineConnection::Read::Closed:
        return command.isEmpty()
                   ? QStringLiteral("The server %1 closed the connection without a greeting").arg(host())
                   : QStringLiteral("The server %1 closed the connection when asked for %2").arg(host(), command);
    case LineConnection::Read::Line:
    case LineConnection::Read::Stopped:
    case LineConnection::Read::NotConnected:
        break;
    }
    return error;
}

bool SmtpSession::SendLine(const QString& line, QString* error, LineTrace trace)
{
    if (trace == LineTrace::Shown)
        showStatus(QStringLiteral("C: ") + line);
    else if (trace == LineTrace::Credentials)
        showStatus(QStringLiteral("C: <credentials hidden>"));
    if (line.contains(u'\r') || line.contains(u'\n')) {
        *error = QStringLiteral("A line for the mail server holds a line break.");
        return false;
    }
    if (m_connection.writeLine(line.toUtf8(), error))
        return true;
    // Part of the line may have gone: nothing said on this connection can be trusted any more.
    Disconnect();
    return false;
}

bool SmtpSession::SendCommand(const QString& line, const QString& name, SmtpReply* failure, LineTrace trace)
{
    // Nothing is pipelined: what is waiting now answers no command of ours.
    if (const QByteArray stray = isConnected() ? m_connection.unread() : QByteArray(); !stray.isEmpty()) {
        const QString shown = ShownText(QString::fromUtf8(stray));
        showStatus(QStringLiteral("S: ") + shown);
        *failure = SmtpReply();
        failure->error = QStringLiteral("The server %1 sent \"%2\", which does not answer %3").arg(host(), shown, name);
        Disconnect();
        return false;
    }
    QString error;
    if (SendLine(line, &error, trace))
        return true;
    *failure = SmtpReply();
    failure->error = error;
    return false;
}

SmtpReply SmtpSession::Command(const QString& line, const QString& name, LineTrace trace)
{
    SmtpReply failure;
    if (!SendCommand(line, name, &failure, trace))
        return failure;
    return ReadReply(name);
}

bool SmtpSession::HandOver(QString* error)
{
    return m_connection.handOver(QDeadlineTimer(std::max(m_timeoutMs, 0)), error);
}

bool SmtpSession::stillConnected()
{
    if (!m_connection.stillOpen())
        return false;
    if (m_connection.unread().isEmpty())
        return true;
    Disconnect();
    return false;
}

QString SmtpSession::EncodeLoginValue(const QString& value)
{
    return base64(value);
}

void SmtpSession::Disconnect()
{
    m_connection.disconnectFromServer();
}

void SmtpSession::Quit()
{
    if (!isConnected())
        return;
    // The last words are said also when the run was stopped, but never for long.
    m_connection.setStoppable(false);
    QString error;
    if (SendLine(QStringLiteral("QUIT"), &error)) {
        const QDeadlineTimer deadline(std::clamp(m_timeoutMs, 0, QuitTimeoutMs));
        // After a stop the answer to the command before may come first.
        for (int lines = 0; lines < MaxReplyLines; ++lines) {
            QByteArray line;
            if (m_connection.readLine(&line, deadline, MaxReplyLength, &error) != LineConnection::Read::Line)
                break;
            const QString text = ShownText(QString::fromUtf8(line));
            showStatus(QStringLiteral("S: ") + text);
            if (replyCode(text) == 221)
                break;
        }
    }
    m_connection.setStoppable(true);
    Disconnect();
}

MailResult SmtpSession::loginFailed(const QString& text, const QString& reason, bool standsAlone)
{
    Disconnect();
    return MailResult::failed(text, reason, standsAlone);
}

MailResult SmtpSession::replyFailed(const QString& prefix, const SmtpReply& reply)
{
    // A reply that never came whole has a cause of its own to name.
    if (!reply.whole())
        return loginFailed(prefix + reply.error, reply.error, true);
    return loginFailed(prefix + reply.last(), reply.last());
}

SmtpReply SmtpSession::ehlo()
{
    m_extensions.clear();
    const SmtpReply reply = Command(QStringLiteral("EHLO Webmaster"), QStringLiteral("EHLO"));
    for (qsizetype i = 1; i < reply.lines.size(); ++i)
        m_extensions.append(reply.lines.at(i).mid(4).section(u' ', 0, 0).toUpper());
    return reply;
}

bool SmtpSession::offers(const QString& extension) const
{
    return m_extensions.contains(extension);
}

MailResult SmtpSession::SmtpLogin(const AppSettings& settings)
{
    m_connection.setHost(settings.Server);
    m_connection.setPort(settings.SMTPPort);
    showStatus(QStringLiteral("Logging in to ") + settings.Server);
    if (isConnected()) {
        const QString already = QStringLiteral("Already connected.");
        return MailResult::failed(QStringLiteral("Error connecting to SMPT Server: ") + already, already);
    }

    const QString securityName = settings.Security.trimmed().toUpper();
    Security security = Security::ByPortAndOffer;
    if (securityName.isEmpty())
        security = settings.SMTPPort == 465 ? Security::Tls : Security::ByPortAndOffer;
    else if (securityName == u"STARTTLS")
        security = Security::StartTls;
    else if (securityName == u"TLS")
        security = Security::Tls;
    else if (securityName == u"NONE")
        security = Security::None;
    else
        return MailResult::failed(
            QStringLiteral("The setting Security=%1 is not one of STARTTLS, TLS or None").arg(settings.Security),
            QString(), true);
    const QString method =
        settings.AuthMethod.trimmed().isEmpty() ? QStringLiteral("LOGIN") : settings.AuthMethod.trimmed().toUpper();
    if (method != u"LOGIN" && method != u"PLAIN" && method != u"XOAUTH2")
        return MailResult::failed(
            QStringLiteral("The setting AuthMethod=%1 is not one of LOGIN, PLAIN or XOAUTH2").arg(settings.AuthMethod),
            QString(), true);

    QString error;
    QString secret = settings.Password;
    if (!settings.Login.isEmpty() && !settings.PasswordCommand.trimmed().isEmpty() &&
        !RunPasswordCommand(settings.PasswordCommand, kPasswordCommandTimeoutMs, &secret, &error))
        return MailResult::failed(QStringLiteral("The password command failed: ") + error, error, true);

    QList<QSslCertificate> trusted;
    if (security != Security::None && !settings.TrustFile.isEmpty()) {
        QFile file(settings.TrustFile);
        if (!file.open(QIODevice::ReadOnly))
            return MailResult::failed(
                QStringLiteral("The trust file %1 cannot be read: %2").arg(settings.TrustFile, file.errorString()),
                file.errorString(), true);
        trusted = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
        if (trusted.isEmpty())
            return MailResult::failed(
                QStringLiteral("The trust file %1 holds no PEM certificate").arg(settings.TrustFile), QString(), true);
    }
    m_connection.setExtraTrust(trusted);

    // A handshake refused for the server's certificate says so; any other failure is the connection's.
    const auto connectFailed = [&] {
        const QString refused = m_connection.certificateErrors();
        if (!refused.isEmpty())
            return loginFailed(QStringLiteral("The certificate of %1 is not trusted: %2").arg(settings.Server, refused),
                               refused, true);
        return loginFailed(QStringLiteral("Error connecting to SMPT Server: ") + error, error);
    };
    if (!m_connection.connectToServer(m_timeoutMs, &error, security == Security::Tls))
        return connectFailed();

    SmtpReply reply = ReadReply();
    if (reply.code != 220)
        return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 1): "), reply);

    reply = ehlo();
    if (reply.code != 250)
        return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 2): "), reply);

    const bool offered = offers(QStringLiteral("STARTTLS"));
    if (security == Security::StartTls && !offered)
        return loginFailed(QStringLiteral("The server %1 does not offer STARTTLS").arg(host()), QString(), true);
    // Anyone on the way can delete the offer: a password never goes out for want of it.
    if (security == Security::ByPortAndOffer && !offered && !settings.Login.isEmpty())
        return loginFailed(QStringLiteral("The server %1 does not offer STARTTLS, so the password would go "
                                          "unencrypted. Set Security=None in [EMail] to allow that.")
                               .arg(host()),
                           QString(), true);
    if (security == Security::StartTls || (security == Security::ByPortAndOffer && offered)) {
        reply = Command(QStringLiteral("STARTTLS"), QStringLiteral("STARTTLS"));
        if (reply.code != 220)
            return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 5): "), reply);
        if (!m_connection.startEncryption(m_timeoutMs, &error))
            return connectFailed();
        // Nothing said before TLS counts: the offer is asked for again.
        reply = ehlo();
        if (reply.code != 250)
            return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 2): "), reply);
    }

    if (settings.Login.isEmpty())
        return MailResult{};
    return authenticate(settings, secret, method);
}

MailResult SmtpSession::authenticate(const AppSettings& settings, const QString& secret, const QString& method)
{
    const QString refusedPrefix = QStringLiteral("Login to SMTP Server failed - incorrect authentication: ");
    const QString command = QStringLiteral("AUTH ") + method;
    SmtpReply reply;
    if (method == u"LOGIN") {
        reply = Command(command, command);
        if (!reply.whole() || !reply.last().startsWith(u'3'))
            return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 3): "), reply);
        reply = Command(EncodeLoginValue(settings.Login), command, LineTrace::Credentials);
        if (!reply.whole())
            return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 4): "), reply);
        if (!reply.last().startsWith(u'3'))
            return loginFailed(QStringLiteral("Error connecting to SMTP Server (protocol 4)"), reply.last());
        reply = Command(EncodeLoginValue(secret), command, LineTrace::Credentials);
        // Silence is no verdict on the password.
        if (!reply.whole())
            return loginFailed(reply.error, reply.error, true);
        if (reply.code != 235)
            return replyFailed(refusedPrefix, reply);
        return MailResult{};
    }

    const QString credentials = method == u"PLAIN"
                                    ? base64(QChar(0) + settings.Login + QChar(0) + secret)
                                    : base64(QStringLiteral("user=") + settings.Login +
                                             QStringLiteral("\1auth=Bearer ") + secret + QStringLiteral("\1\1"));
    reply = Command(command + u' ' + credentials, command, LineTrace::Credentials);
    // A refused token comes back as a challenge holding the server's reasons; answering it with an
    // empty line brings the final refusal.
    QString reasons;
    if (reply.code == 334) {
        reasons = ShownText(QString::fromUtf8(QByteArray::fromBase64(reply.last().mid(4).toLatin1())));
        reply = Command(QString(), command);
    }
    if (!reply.whole())
        return loginFailed(reply.error, reply.error, true);
    if (reply.code == 235)
        return MailResult{};
    if (reply.code == 535 || !reasons.isEmpty())
        return loginFailed(refusedPrefix + reply.last() +
                               (reasons.isEmpty() ? QString() : QStringLiteral("; ") + reasons),
                           reply.reason());
    return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 3): "), reply);
}

} // namespace velmar
