#pragma once

#include "mail/smtpsession.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace velmar {

struct AppSettings;

// One doctor's pro-forma mail: what the document routine hands over after writing the PDFs.
struct PaymentMail
{
    QString pdfPath;         // the pro-forma invoice
    QString recipient;       // the doctor's own e-mail address
    QString salutationName;  // title, a blank and surname: follows "Dear "
    QString proFormaPdfName; // the name under which he receives the invoice
    // Solo on and the doctor's noPension off: his pension form goes with it.
    bool pensionFormWanted = false;
    QString soloPdfPath;
    QString soloPdfName;
    // A corrected invoice for a doctor sent his earlier: the subject says so.
    bool amended = false;
};

// 0 .. n-1; 0 when n is not positive.
int RandomBelow(QRandomGenerator& random, int n);
// n characters, each a digit or a capital A to F (a digit half the time).
QString RandomHexText(QRandomGenerator& random, int n);
// "----=_NextPart_" and four random groups: 45 characters.
QString MakeBoundary(QRandomGenerator& random);
// RFC 5322 date in English whatever the user's locale, with the time's real UTC offset:
// "Thu, 5 Jun 2025 14:03:09 +0100".
QString FormatMailDate(const QDateTime& time);

// "<" random "@" the domain of the sender's address ">": a new one for each message.
QString MakeMessageId(QRandomGenerator& random, const QString& fromAddress);

// A message as the lines that go to the server, without line ends.
struct ComposedMessage
{
    // Where an attachment's Base64 lines are, so the trace can show one line for them.
    struct Attachment
    {
        qsizetype first = 0;
        qsizetype count = 0;
        QString name;
        qint64 size = 0;
    };
    QStringList lines;
    QList<Attachment> attachments;
};

// The whole message: headers, the text part and the Base64 PDF attachments. Text outside ASCII
// is declared and encoded; body lines holding a CR or LF are split into lines of their own.
// Fails, with the file's error, when an attachment cannot be read.
bool ComposePaymentMessage(const AppSettings& settings, const PaymentMail& mail, const QString& recipient,
                           const QString& boundary, const QString& messageId, const QDateTime& date,
                           ComposedMessage* message, QString* error);

// Why a doctor's own address cannot take his message: there is none, or it is not a single
// address. Empty when it can. Blanks around the address are no part of it.
QString RecipientProblem(const QString& recipient, const QString& salutationName);
// Why the doctor's message cannot be made at all: his address, as above, or a line break in his
// name. Empty when it can.
QString MessageProblem(const PaymentMail& mail);
// Why no message can go with these settings: FromAddress, or TEST when set, is not a single
// address. Empty when they can.
QString SenderProblem(const AppSettings& settings);

// Builds the message (dated by the program's Clock) and runs the mail transaction on a
// logged-in session. With the TEST setting every message goes to that address instead. The
// doctor's address, TEST and FromAddress must each be a single address, and his name free of line
// breaks, or nothing is sent. A refusal at any step is followed by RSET, so the next message on
// the connection starts clean; a reply that cannot be read whole closes the connection. Once the
// final "." has been handed to the network, such a reply leaves the outcome unconfirmed; before
// that, the message failed.
MailResult SendPaymentMail(SmtpSession& session, const AppSettings& settings, const PaymentMail& mail);

} // namespace velmar
