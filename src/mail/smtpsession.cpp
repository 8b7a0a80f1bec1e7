#include "mail/smtpsession.h"

#include "core/appsettings.h"
#include "mail/base64encoder.h"
#include "mail/mailstatus.h"

#include <QBuffer>

namespace velmar {

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

QString SmtpSession::ReadReply()
{
    QByteArray line;
    QString error;
    if (!m_connection.readLine(&line, m_timeoutMs, MaxReplyLength, &error))
        line.clear();
    const QString reply = QString::fromUtf8(line);
    showStatus(QStringLiteral("S: ") + reply);
    return reply;
}

bool SmtpSession::SendLine(const QString& line, QString* error)
{
    showStatus(QStringLiteral("C: ") + line);
    if (line.contains(u'\r') || line.contains(u'\n')) {
        *error = QStringLiteral("A line for the mail server holds a line break.");
        return false;
    }
    return m_connection.writeLine(line.toUtf8(), error);
}

QString SmtpSession::EncodeLoginValue(const QString& value)
{
    QByteArray bytes = value.toUtf8();
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    QString error;
    return EncodeBase64(stream, Base64LineBytes, &error);
}

void SmtpSession::Disconnect()
{
    m_connection.disconnectFromServer();
}

MailResult SmtpSession::loginFailed(const QString& text, bool raised)
{
    Disconnect();
    return MailResult{text, raised};
}

MailResult SmtpSession::SmtpLogin(const AppSettings& settings)
{
    m_connection.setHost(settings.Server);
    m_connection.setPort(settings.SMTPPort);
    showStatus(QStringLiteral("Logging in to ") + settings.Server);

    QString error;
    if (!m_connection.connectToServer(m_timeoutMs, &error))
        return MailResult{QStringLiteral("Error connecting to SMPT Server: ") + error};

    QString reply = ReadReply();
    if (!reply.startsWith(u"220"))
        return loginFailed(QStringLiteral("Error connecting to SMTP Server (protocol 1): ") + reply);

    if (!SendLine(QStringLiteral("EHLO Webmaster"), &error))
        return loginFailed(error, true);
    reply = ReadReply();
    while (reply.startsWith(u"250-"))
        reply = ReadReply();
    if (!reply.startsWith(u"250 "))
        return loginFailed(QStringLiteral("Error connecting to SMTP Server (protocol 2): ") + reply);

    if (settings.Login.isEmpty())
        return MailResult{};

    if (!SendLine(QStringLiteral("AUTH LOGIN"), &error))
        return loginFailed(error, true);
    reply = ReadReply();
    if (!reply.startsWith(u'3'))
        return loginFailed(QStringLiteral("Error connecting to SMTP Server (protocol 3): ") + reply);

    if (!SendLine(EncodeLoginValue(settings.Login), &error))
        return loginFailed(error, true);
    reply = ReadReply();
    if (!reply.startsWith(u'3'))
        return loginFailed(QStringLiteral("Error connecting to SMTP Server (protocol 4)"));

    if (!SendLine(EncodeLoginValue(settings.Password), &error))
        return loginFailed(error, true);
    reply = ReadReply();
    if (!reply.startsWith(u"235"))
        return loginFailed(QStringLiteral("Login to SMTP Server failed - incorrect authentication: ") + reply);
    return MailResult{};
}

} // namespace velmar
