#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <array>
#include <optional>

namespace velmar {

// What became of one attempt to mail a doctor his documents.
// Sent: the server accepted the message. Failed: it was refused, or went wrong before the final
// "." (documents, connection). Unconfirmed: the whole message went but its answer never came, so
// it may have been delivered. Skipped: not tried, for want of a single address to send it to.
enum class SendOutcome { Sent, Failed, Unconfirmed, Skipped };
inline constexpr std::array<SendOutcome, 4> kSendOutcomes{SendOutcome::Sent, SendOutcome::Failed,
                                                          SendOutcome::Unconfirmed, SendOutcome::Skipped};

// "sent", "failed", "unconfirmed", "skipped": as stored and printed.
QString OutcomeName(SendOutcome outcome);
std::optional<SendOutcome> OutcomeFromName(const QString& name);

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
};

// Adds one attempt to SendLog; the row is committed when this returns true.
bool AppendSendLog(const QSqlDatabase& db, const SendLogEntry& entry, QString* error);

// The latest attempt of each doctor of the data set in surname order, or (every) all attempts in
// the order they were made.
bool ReadSendLog(const QSqlDatabase& db, const QString& dataSet, bool every, QList<SendLogEntry>* entries,
                 QString* error);
// The latest outcome of each doctor of the data set that has one, by id.
bool LatestOutcomes(const QSqlDatabase& db, const QString& dataSet, QHash<QString, SendOutcome>* outcomes,
                    QString* error);
// The latest attempt for one doctor; none when he has none or the log cannot be read.
std::optional<SendLogEntry> LatestAttempt(const QSqlDatabase& db, const QString& dataSet, const QString& id);

// One line for a status bar: "Sent to a@b.test on 05/06/2025 14:03", "Failed on 05/06/2025 14:03:
// 550 no such user", or "Not sent yet".
QString SendStatusText(const std::optional<SendLogEntry>& latest);

} // namespace velmar
