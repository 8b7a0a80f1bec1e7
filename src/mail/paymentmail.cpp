#include "mail/paymentmail.h"

#include "core/appsettings.h"
#include "core/clock.h"
#include "mail/base64encoder.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <cstdlib>

namespace velmar {

int RandomBelow(QRandomGenerator& random, int n)
{
    return n > 0 ? static_cast<int>(random.bounded(n)) : 0;
}

QString RandomHexText(QRandomGenerator& random, int n)
{
    QString text;
    text.reserve(n);
    for (int i = 0; i < n; ++i) {
        if (RandomBelow(random, 2) == 0)
            text.append(QChar(u'0' + RandomBelow(random, 10)));
        else
            text.append(QChar(u'A' + RandomBelow(random, 6)));
    }
    return text;
}

QString MakeBoundary(QRandomGenerator& random)
{
    return QStringLiteral("----=_NextPart_") + RandomHexText(random, 3) + u'_' + RandomHexText(random, 6) + u'_' +
           RandomHexText(random, 9) + u'.' + RandomHexText(random, 9);
}

QString FormatMailDate(const QDateTime& time)
{
    const int offset = time.offsetFromUtc() / 60;
    const int minutes = std::abs(offset);
    return QLocale::c().toString(time, u"ddd, d MMM yyyy hh:mm:ss") +
           QString::asprintf(" %c%02d%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

namespace {

// A body text becomes as many lines as it holds: a bare CR or LF never reaches the server.
void appendBodyLines(QStringList* lines, const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    lines->append(text.split(lineBreak));
}

bool appendAttachment(QStringList* lines, const QString& boundary, const QString& path, const QString& name,
                      QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    lines->append(QStringLiteral("--") + boundary);
    lines->append(QStringLiteral("Content-Type: application/pdf;"));
    lines->append(QStringLiteral("        name=\"") + name + u'"');
    lines->append(QStringLiteral("Content-Transfer-Encoding: base64"));
    lines->append(QStringLiteral("Content-Disposition: attachment;"));
    lines->append(QStringLiteral("        filename=\"") + name + u'"');
    lines->append(QString());
    lines->append(Base64Lines(content));
    return true;
}

bool holdsLineBreak(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

// After a refusal the server may still hold part of the transaction; RSET clears it so the
// next message on this connection is not refused for it. Its own reply does not matter.
MailResult refused(SmtpSession& session, const QString& text)
{
    QString ignored;
    if (session.isConnected() && session.SendLine(QStringLiteral("RSET"), &ignored))
        session.ReadReply();
    return MailResult{text};
}

} // namespace

bool ComposePaymentMessage(const AppSettings& settings, const PaymentMail& mail, const QString& recipient,
                           const QString& boundary, const QDateTime& date, QStringList* lines, QString* error)
{
    QStringList& out = *lines;
    out.clear();
    out.append(QStringLiteral("From: \"%1\" <%2>").arg(settings.FromName, settings.FromAddress));
    out.append(QStringLiteral("To: <%1>").arg(recipient));
    out.append(QStringLiteral("Subject: Velmar Payment Details"));
    out.append(QStringLiteral("Date: ") + FormatMailDate(date));
    out.append(QStringLiteral("MIME-Version: 1.0"));
    out.append(QStringLiteral("Content-Type: multipart/mixed;"));
    out.append(QStringLiteral("        boundary=\"") + boundary + u'"');
    out.append(QStringLiteral("X-Mailer: Velmar Payment System V1.0"));
    out.append(QString());
    out.append(QStringLiteral("This is a multi-part message in MIME format."));
    out.append(QString());
    out.append(QStringLiteral("--") + boundary);
    out.append(QStringLiteral("Content-Type: text/plain;"));
    out.append(QStringLiteral("        charset=\"us-ascii\""));
    out.append(QStringLiteral("Content-Transfer-Encoding: 7bit"));
    out.append(QString());
    appendBodyLines(&out, QStringLiteral("Dear ") + mail.salutationName + u',');
    out.append(QString());
    for (const QString& text : settings.EMailText)
        appendBodyLines(&out, text);
    out.append(QString());
    if (!appendAttachment(&out, boundary, mail.pdfPath, mail.proFormaPdfName, error))
        return false;
    if (mail.pensionFormWanted) {
        out.append(QString());
        if (!appendAttachment(&out, boundary, mail.soloPdfPath, mail.soloPdfName, error))
            return false;
    }
    out.append(QString());
    out.append(QStringLiteral("--") + boundary + QStringLiteral("--"));
    return true;
}

MailResult SendPaymentMail(SmtpSession& session, const AppSettings& settings, const PaymentMail& mail)
{
    const QString recipient = settings.TEST.isEmpty() ? mail.recipient : settings.TEST;

    // A line break in a header value or command would let the text be read as further headers
    // or commands: such a message is refused here, before anything is sent.
    if (holdsLineBreak(settings.FromAddress) || holdsLineBreak(settings.FromName) || holdsLineBreak(recipient) ||
        holdsLineBreak(mail.proFormaPdfName) || (mail.pensionFormWanted && holdsLineBreak(mail.soloPdfName)))
        return MailResult{QStringLiteral("Error Sending mail to (protocol 11): "
                                         "an address or attachment name holds a line break")};

    QStringList lines;
    QString error;
    if (!ComposePaymentMessage(settings, mail, recipient, MakeBoundary(session.random()), Clock::currentDateTime(),
                               &lines, &error))
        return MailResult{error, true};

    if (!session.SendLine(QStringLiteral("MAIL FROM:<") + settings.FromAddress + u'>', &error))
        return MailResult{error, true};
    QString reply = session.ReadReply();
    if (!reply.startsWith(u"250"))
        return refused(session, QStringLiteral("Error Sending mail (protocol 10): ") + reply);

    if (!session.SendLine(QStringLiteral("RCPT TO:<") + recipient + u'>', &error))
        return MailResult{error, true};
    reply = session.ReadReply();
    if (!reply.startsWith(u"250"))
        return refused(session, QStringLiteral("Error Sending mail to (protocol 11): ") + reply);

    if (!session.SendLine(QStringLiteral("DATA"), &error))
        return MailResult{error, true};
    reply = session.ReadReply();
    if (!reply.startsWith(u"354"))
        return refused(session, QStringLiteral("Error Sending mail (protocol 12): ") + reply);

    for (const QString& line : std::as_const(lines)) {
        // A leading full stop is doubled so the server never takes a body line for the end.
        const bool sent =
            line.startsWith(u'.') ? session.SendLine(u'.' + line, &error) : session.SendLine(line, &error);
        if (!sent)
            return MailResult{error, true};
    }
    if (!session.SendLine(QStringLiteral("."), &error))
        return MailResult{error, true};
    reply = session.ReadReply();
    if (!reply.startsWith(u"250"))
        return refused(session, QStringLiteral("Error Sending mail (protocol 20): ") + reply);
    return MailResult{};
}

} // namespace velmar
