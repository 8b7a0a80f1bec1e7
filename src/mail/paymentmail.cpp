#include "mail/paymentmail.h"

#include "core/appsettings.h"
#include "core/clock.h"
#include "mail/base64encoder.h"
#include "mail/mimetext.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
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

QString MakeMessageId(QRandomGenerator& random, const QString& fromAddress)
{
    const auto hex = [&random] { return QString::number(random.generate64(), 16).rightJustified(16, u'0'); };
    return u'<' + hex() + u'.' + hex() + u'@' + fromAddress.section(u'@', 1) + u'>';
}

namespace {

// A body text becomes as many lines as it holds: a bare CR or LF never reaches the server, nor
// does any other control character but TAB.
void appendBodyLines(QStringList* lines, const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : text.split(lineBreak))
        lines->append(WithoutControls(line));
}

QString sizeText(qint64 bytes)
{
    return bytes < 1024 ? QStringLiteral("%1 bytes").arg(bytes) : QStringLiteral("%1 KB").arg(qRound(bytes / 1024.0));
}

bool appendAttachment(ComposedMessage* message, const QString& boundary, const QString& path, const QString& name,
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
    const QString typed = WithoutControls(name);
    QStringList& lines = message->lines;
    lines.append(QStringLiteral("--") + boundary);
    lines.append(QStringLiteral("Content-Type: application/pdf;"));
    lines.append(ParameterLines(QStringLiteral("name"), typed));
    lines.append(QStringLiteral("Content-Transfer-Encoding: base64"));
    lines.append(QStringLiteral("Content-Disposition: attachment;"));
    lines.append(ParameterLines(QStringLiteral("filename"), typed));
    lines.append(QString());
    const QStringList data = Base64Lines(content);
    message->attachments.append({lines.size(), data.size(), typed, content.size()});
    lines.append(data);
    return true;
}

bool holdsLineBreak(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

// Blanks around an address are no part of it (an empty field is stored as one blank); a line
// break is, and makes it no single address.
QString withoutBlanks(const QString& address)
{
    qsizetype first = 0;
    qsizetype end = address.size();
    while (first < end && (address.at(first) == u' ' || address.at(first) == u'\t'))
        ++first;
    while (end > first && (address.at(end - 1) == u' ' || address.at(end - 1) == u'\t'))
        --end;
    return address.mid(first, end - first);
}

// Whose address it is, for "The e-mail address of %1 ..." and "%1 has no e-mail address".
QString addressProblem(const QString& address, const QString& whose)
{
    if (address.isEmpty())
        return QStringLiteral("%1 has no e-mail address").arg(whose.left(1).toUpper() + whose.mid(1));
    if (!IsSingleAddress(address))
        return QStringLiteral("The e-mail address of %1 is not a single address: %2").arg(whose, address);
    return QString();
}

// "The sender address %1 is not a single address: %2", the address and what is wrong with it.
QString settingProblem(const QString& address, const QString& what, const QString& key)
{
    if (address.isEmpty())
        return QStringLiteral("The %1 address is not set: %2 in [EMail] is empty").arg(what, key);
    const QString fault = AddressFault(address);
    if (fault.isEmpty())
        return QString();
    return QStringLiteral("The %1 address %2 is not a single address: %3").arg(what, ShownText(address), fault);
}

MailResult failedAlone(const QString& text)
{
    return MailResult::failed(text, text, true);
}

// After a refusal the server may still hold part of the transaction; RSET clears it so the
// next message on this connection is not refused for it. Its own reply does not matter. A reply
// that never came whole names its own cause, and the dialogue is over.
MailResult refused(SmtpSession& session, const QString& prefix, const SmtpReply& reply)
{
    if (!reply.whole())
        return MailResult::failed(prefix + reply.error, reply.error, true);
    if (session.isConnected())
        session.Command(QStringLiteral("RSET"), QStringLiteral("RSET"));
    return MailResult::failed(prefix + reply.last(), reply.last());
}

} // namespace

QString RecipientProblem(const QString& recipient, const QString& salutationName)
{
    return addressProblem(withoutBlanks(recipient), salutationName);
}

QString MessageProblem(const PaymentMail& mail)
{
    // The name goes into the text and the attachment names, where a line break would end a line.
    if (holdsLineBreak(mail.salutationName) || holdsLineBreak(mail.proFormaPdfName) ||
        (mail.pensionFormWanted && holdsLineBreak(mail.soloPdfName)))
        return QStringLiteral("The name of %1 holds a line break, which cannot go in a message")
            .arg(ShownText(mail.salutationName));
    return RecipientProblem(mail.recipient, mail.salutationName);
}

QString SenderProblem(const AppSettings& settings)
{
    QString problem = settingProblem(settings.FromAddress, QStringLiteral("sender"), QStringLiteral("FromAddress"));
    if (problem.isEmpty() && !settings.TEST.isEmpty())
        problem = settingProblem(settings.TEST, QStringLiteral("test"), QStringLiteral("TEST"));
    return problem;
}

bool ComposePaymentMessage(const AppSettings& settings, const PaymentMail& mail, const QString& recipient,
                           const QString& boundary, const QString& messageId, const QDateTime& date,
                           ComposedMessage* message, QString* error)
{
    *message = ComposedMessage();
    QStringList& out = message->lines;
    // Lines that hold encoded-words stay within 76 characters: longer ones are folded.
    QStringList words = DisplayNameWords(WithoutControls(settings.FromName));
    words.append(u'<' + settings.FromAddress + u'>');
    QString from = QStringLiteral("From:");
    for (const QString& word : std::as_const(words)) {
        if (from.size() + 1 + word.size() > MaxMessageLine) {
            out.append(from);
            from.clear();
        }
        from += u' ' + word;
    }
    out.append(from);
    out.append(QStringLiteral("To: <%1>").arg(recipient));
    out.append(QStringLiteral("Subject: %1Velmar Payment Details")
                   .arg(mail.amended ? QStringLiteral("Amended: ") : QString()));
    out.append(QStringLiteral("Date: ") + FormatMailDate(date));
    out.append(QStringLiteral("Message-ID: ") + messageId);
    out.append(QStringLiteral("MIME-Version: 1.0"));
    out.append(QStringLiteral("Content-Type: multipart/mixed;"));
    out.append(QStringLiteral("        boundary=\"") + boundary + u'"');
    out.append(QStringLiteral("X-Mailer: Velmar Payment System V1.0"));
    out.append(QString());
    out.append(QStringLiteral("This is a multi-part message in MIME format."));
    out.append(QString());

    QStringList body;
    appendBodyLines(&body, QStringLiteral("Dear ") + mail.salutationName + u',');
    body.append(QString());
    for (const QString& text : settings.EMailText)
        appendBodyLines(&body, text);
    body.append(QString());
    const bool ascii = std::all_of(body.cbegin(), body.cend(), IsAscii);
    const bool shortLines =
        std::all_of(body.cbegin(), body.cend(), [](const QString& line) { return line.size() <= MaxMessageLine; });
    out.append(QStringLiteral("--") + boundary);
    out.append(QStringLiteral("Content-Type: text/plain;"));
    out.append(ascii ? QStringLiteral("        charset=\"us-ascii\"") : QStringLiteral("        charset=\"utf-8\""));
    if (ascii && shortLines) {
        out.append(QStringLiteral("Content-Transfer-Encoding: 7bit"));
        out.append(QString());
        out.append(body);
    } else {
        // Long lines are broken softly: the reader joins them again, and no server refuses them.
        out.append(QStringLiteral("Content-Transfer-Encoding: quoted-printable"));
        out.append(QString());
        for (const QString& line : std::as_const(body))
            out.append(QuotedPrintableLines(line));
    }

    if (!appendAttachment(message, boundary, mail.pdfPath, mail.proFormaPdfName, error))
        return false;
    if (mail.pensionFormWanted) {
        out.append(QString());
        if (!appendAttachment(message, boundary, mail.soloPdfPath, mail.soloPdfName, error))
            return false;
    }
    out.append(QString());
    out.append(QStringLiteral("--") + boundary + QStringLiteral("--"));
    return true;
}

MailResult SendPaymentMail(SmtpSession& session, const AppSettings& settings, const PaymentMail& mail)
{
    // Each address goes between "<" and ">" in a command: more than one address there would
    // reach somebody else or pass parameters to the server.
    if (const QString problem = MessageProblem(mail); !problem.isEmpty())
        return failedAlone(problem);
    if (const QString problem = SenderProblem(settings); !problem.isEmpty())
        return failedAlone(problem);
    const QString recipient = settings.TEST.isEmpty() ? withoutBlanks(mail.recipient) : settings.TEST;

    ComposedMessage message;
    QString error;
    if (!ComposePaymentMessage(settings, mail, recipient, MakeBoundary(session.random()),
                               MakeMessageId(session.random(), settings.FromAddress), Clock::currentDateTime(),
                               &message, &error))
        return MailResult::failed(error, error);

    SmtpReply reply =
        session.Command(QStringLiteral("MAIL FROM:<") + settings.FromAddress + u'>', QStringLiteral("MAIL FROM"));
    if (reply.code != 250)
        return refused(session, QStringLiteral("Error Sending mail (protocol 10): "), reply);
    reply = session.Command(QStringLiteral("RCPT TO:<") + recipient + u'>', QStringLiteral("RCPT TO"));
    if (reply.code != 250)
        return refused(session, QStringLiteral("Error Sending mail to (protocol 11): "), reply);
    reply = session.Command(QStringLiteral("DATA"), QStringLiteral("DATA"));
    if (reply.code != 354)
        return refused(session, QStringLiteral("Error Sending mail (protocol 12): "), reply);

    // Until the final "." has been handed to the network, nothing can have been delivered.
    const QString notDelivered = QStringLiteral("Error Sending mail (protocol 20): ");
    auto attachment = message.attachments.cbegin();
    for (qsizetype i = 0; i < message.lines.size(); ++i) {
        LineTrace trace = LineTrace::Shown;
        if (attachment != message.attachments.cend() && i >= attachment->first) {
            if (i == attachment->first)
                session.showStatus(
                    QStringLiteral("C: <attachment %1, %2>").arg(attachment->name, sizeText(attachment->size)));
            trace = LineTrace::Untraced;
            if (i + 1 == attachment->first + attachment->count)
                ++attachment;
        }
        // A leading full stop is doubled so the server never takes a body line for the end.
        const QString& line = message.lines.at(i);
        if (!session.SendLine(line.startsWith(u'.') ? u'.' + line : line, &error, trace))
            return MailResult::failed(notDelivered + error, error, true);
    }
    const QString end = QStringLiteral("the final \".\"");
    if (!session.SendCommand(QStringLiteral("."), end, &reply))
        return MailResult::failed(notDelivered + reply.error, reply.error, true);
    if (!session.HandOver(&error))
        return MailResult::failed(notDelivered + error, error, true);
    reply = session.ReadReply(end, true);
    const QString headers = message.lines.mid(0, message.lines.indexOf(QString())).join(QStringLiteral("\r\n"));
    if (!reply.whole()) {
        // The server may have taken the message and lost only its answer.
        const QString text =
            QStringLiteral("Delivery of the message to %1 is not confirmed: %2").arg(recipient, reply.error);
        return MailResult{MailOutcome::Unconfirmed, text, reply.error, true, headers};
    }
    if (reply.code != 250)
        return refused(session, QStringLiteral("Error Sending mail (protocol 20): "), reply);
    return MailResult{MailOutcome::Done, QString(), reply.last(), false, headers};
}

} // namespace velmar
