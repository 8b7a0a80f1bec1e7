#pragma once

#include "history/history.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>

#include <array>
#include <optional>

namespace velmar {

struct AppSettings;

// What became of one attempt to mail a doctor his documents.
// Sent: the server accepted the message. Failed: it was refused, or went wrong before the final
// "." (documents, connection). Unconfirmed: the whole message went but its answer never came, so
// it may have been delivered. Skipped: not tried, for want of a single address to send it to.
// Test: a run under TEST sent it to the test address; it counts for nobody. Sending: the attempt
// is under way; left by a run that ended without logging its answer, it reads as unconfirmed.
enum class SendOutcome { Sent, Failed, Unconfirmed, Skipped, Test, Sending };
inline constexpr std::array<SendOutcome, 6> kSendOutcomes{SendOutcome::Sent,        SendOutcome::Failed,
                                                          SendOutcome::Unconfirmed, SendOutcome::Skipped,
                                                          SendOutcome::Test,        SendOutcome::Sending};

// "sent", "failed", "unconfirmed", "skipped", "test", "sending": as stored and printed.
QString OutcomeName(SendOutcome outcome);
std::optional<SendOutcome> OutcomeFromName(const QString& name);

// How the log shows a doctor whose figures changed since he was sent them.
inline QString ChangedSinceSentText()
{
    return QStringLiteral("changed since sent");
}

// One row of the send log.
struct SendLogEntry
{
    QString dataSet;
    QString id;
    QString sname; // read from Headers; empty when the doctor's row is gone
    QString address;
    QString attachments; // the attachment names, joined by "; "
    QDateTime sentAt;    // UTC
    SendOutcome outcome = SendOutcome::Failed;
    QString reply; // the server's last reply, or what went wrong
    // What the message held, for the attempts that got as far as the server: the payment his
    // invoice stated, the SHA-256 of each attachment (hex, in the order of the names) and the
    // import stamp of the data set it was made from.
    std::optional<double> payment = std::nullopt;
    QString attachmentHashes = {};
    QString importStamp = {};
    // Of a message that went whole: its headers, and its attachments' bytes as mailed, kept in
    // the attempt's history entry.
    QString headers = {};
    QList<history::Kept> documents = {};
};

// Adds one finished attempt (or a doctor not tried) to SendLog with its history entry; the row is
// committed when this returns true.
bool AppendSendLog(const QSqlDatabase& db, const SendLogEntry& entry, QString* error);

// The first half of an attempt, before a word goes to the server: the row, outcome Sending (or
// Test), is committed, and with a claim token the run's claim on the data set is confirmed and
// refreshed in the same transaction. False when either cannot be done: the message must not go.
bool BeginAttempt(const QSqlDatabase& db, const SendLogEntry& entry, const QString& claimToken, int* attempt,
                  QString* error);
// The second half, once the server's answer is known: the attempt's outcome and reply, with its
// history entry.
bool FinishAttempt(const QSqlDatabase& db, int attempt, const SendLogEntry& entry, QString* error);

// The latest attempt of each doctor of the data set in surname order, or (every) all attempts in
// the order they were made.
bool ReadSendLog(const QSqlDatabase& db, const QString& dataSet, bool every, QList<SendLogEntry>* entries,
                 QString* error);
// The latest outcome of each doctor of the data set that has one, by id; test messages count for
// nobody and are left out.
bool LatestOutcomes(const QSqlDatabase& db, const QString& dataSet, QHash<QString, SendOutcome>* outcomes,
                    QString* error);
// The latest attempt for one doctor that counts (no test); none when he has none or the log
// cannot be read.
std::optional<SendLogEntry> LatestAttempt(const QSqlDatabase& db, const QString& dataSet, const QString& id);

// The last message that may have reached each doctor (sent, or unconfirmed), by id; of one
// doctor only when his id is given.
bool LastDelivered(const QSqlDatabase& db, const QString& dataSet, QHash<QString, SendLogEntry>* delivered,
                   QString* error, const QString& id = QString());
// Whether a doctor's invoice now states another payment than the message that may have reached
// him. Messages logged before the payment was kept never count as changed.
bool ChangedSince(const SendLogEntry& delivered, double paymentNow);
// The doctors of the data set whose payment changed since they were sent their invoice, under
// these settings.
bool ChangedSinceSent(const QSqlDatabase& db, const AppSettings& settings, const QString& dataSet,
                      QSet<QString>* changed, QString* error);

// How many doctors of the data set were sent their invoice, and when the last one went.
struct SentBefore
{
    int doctors = 0;
    QDateTime last; // UTC
};
bool DoctorsSentBefore(const QSqlDatabase& db, const QString& dataSet, SentBefore* sent, QString* error);

// The outcome as the log shows it: "test to clerk@example.org" for a test, "changed since sent"
// for a doctor sent a payment his invoice no longer states, else its name.
QString ShownOutcome(const SendLogEntry& entry, bool changed);

// One line for a status bar: "Sent to a@b.test on 05/06/2025 14:03", "Failed on 05/06/2025 14:03:
// 550 no such user", or "Not sent yet"; "; changed since sent" after it when changed.
QString SendStatusText(const std::optional<SendLogEntry>& latest, bool changed = false);

} // namespace velmar
