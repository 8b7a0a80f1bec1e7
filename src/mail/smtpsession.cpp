#include "mail/smtpsession.h"

#include "core/appsettings.h"
#include "core/passwordcommand.h"
#include "mail/mailstatus.h"

#include <QFile>

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

SmtpReply SmtpSession::ReadReply()
{
    SmtpReply reply;
    for (;;) {
        QByteArray line;
        bool timedOut = false;
        if (!m_connection.readLine(&line, m_timeoutMs, MaxReplyLength, &reply.error, &timedOut))
            break;
        if (timedOut) {
            reply.error = QStringLiteral("no reply within %1 seconds").arg(m_timeoutMs / 1000.0);
            break;
        }
        const QString text = QString::fromUtf8(line);
        showStatus(QStringLiteral("S: ") + text);
        reply.lines.append(text);
        if (!isContinuation(text)) {
            reply.code = replyCode(text);
            return reply;
        }
    }
    // Whatever the server sends next could be taken for the answer to a later command.
    showStatus(QStringLiteral("S: "));
    Disconnect();
    return reply;
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
    QString error;
    if (SendLine(QStringLiteral("QUIT"), &error)) {
        // A server that does not answer is not waited for as long as for a message.
        const int timeout = m_timeoutMs;
        m_timeoutMs = std::min(timeout, QuitTimeoutMs);
        ReadReply();
        m_timeoutMs = timeout;
    }
    Disconnect();
}

MailResult SmtpSession::loginFailed(const QString& text, const QString& reason, bool standsAlone)
{
    Disconnect();
    return MailResult::failed(text, reason, standsAlone);
}

MailResult SmtpSession::replyFailed(const QString& prefix, const SmtpReply& reply)
{
    return loginFailed(prefix + reply.last(), reply.reason());
}

bool SmtpSession::ehlo(SmtpReply* reply, QString* error)
{
    m_extensions.clear();
    if (!SendLine(QStringLiteral("EHLO Webmaster"), error))
        return false;
    *reply = ReadReply();
    for (qsizetype i = 1; i < reply->lines.size(); ++i)
        m_extensions.append(reply->lines.at(i).mid(4).section(u' ', 0, 0).toUpper());
    return true;
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

    if (!ehlo(&reply, &error))
        return loginFailed(error, error);
    if (reply.code != 250)
        return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 2): "), reply);

    const bool offered = offers(QStringLiteral("STARTTLS"));
    if (security == Security::StartTls && !offered)
        return loginFailed(QStringLiteral("The server %1 does not offer STARTTLS").arg(settings.Server), QString(),
                           true);
    if (security == Security::StartTls || (security == Security::ByPortAndOffer && offered)) {
        if (!SendLine(QStringLiteral("STARTTLS"), &error))
            return loginFailed(error, error);
        reply = ReadReply();
        if (reply.code != 220)
            return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 5): "), reply);
        if (!m_connection.startEncryption(m_timeoutMs, &error))
            return connectFailed();
        // Nothing said before TLS counts: the offer is asked for again.
        if (!ehlo(&reply, &error))
            return loginFailed(error, error);
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
    QString error;
    SmtpReply reply;
    if (method == u"LOGIN") {
        if (!SendLine(QStringLiteral("AUTH LOGIN"), &error))
            return loginFailed(error, error);
        reply = ReadReply();
        if (!reply.last().startsWith(u'3') || !reply.whole())
            return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 3): "), reply);
        if (!SendLine(EncodeLoginValue(settings.Login), &error, LineTrace::Credentials))
            return loginFailed(error, error);
        reply = ReadReply();
        if (!reply.last().startsWith(u'3') || !reply.whole())
            return loginFailed(QStringLiteral("Error connecting to SMTP Server (protocol 4)"), reply.reason());
        if (!SendLine(EncodeLoginValue(secret), &error, LineTrace::Credentials))
            return loginFailed(error, error);
        reply = ReadReply();
        if (reply.code != 235)
            return replyFailed(refusedPrefix, reply);
        return MailResult{};
    }

    const QString credentials = method == u"PLAIN"
                                    ? base64(QChar(0) + settings.Login + QChar(0) + secret)
                                    : base64(QStringLiteral("user=") + settings.Login +
                                             QStringLiteral("\1auth=Bearer ") + secret + QStringLiteral("\1\1"));
    if (!SendLine(QStringLiteral("AUTH ") + method + u' ' + credentials, &error, LineTrace::Credentials))
        return loginFailed(error, error);
    reply = ReadReply();
    // A refused token comes back as a challenge holding the server's reasons; answering it with an
    // empty line brings the final refusal.
    QString reasons;
    if (reply.code == 334) {
        reasons = QString::fromUtf8(QByteArray::fromBase64(reply.last().mid(4).toLatin1()));
        if (!SendLine(QString(), &error))
            return loginFailed(error, error);
        reply = ReadReply();
    }
    if (reply.code == 235)
        return MailResult{};
    if (reply.code == 535 || !reasons.isEmpty())
        return loginFailed(refusedPrefix + reply.last() +
                               (reasons.isEmpty() ? QString() : QStringLiteral("; ") + reasons),
                           reply.reason());
    return replyFailed(QStringLiteral("Error connecting to SMTP Server (protocol 3): "), reply);
}

} // namespace velmar
