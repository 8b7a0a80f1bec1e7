#pragma once

#include "mail/smtpsession.h"

#include <QList>
#include <QSqlRecord>
#include <QString>

#include <functional>
#include <memory>

class QTemporaryDir;

namespace velmar {

class BatchPrint;
class Documents;
class MailStatus;
class Prompter;
struct AppSettings;
struct AppState;
struct InvoiceMail;

// What became of one doctor's message in a run.
struct SendRecord
{
    QString doctorId;
    QString name;    // title and surname
    QString address; // his own, also when TEST sent it elsewhere
    MailOutcome outcome = MailOutcome::Done;
    QString reason; // the server's last reply, or what went wrong
};

// E-mails the pro-forma invoices: one doctor (the detail window's Send) or every doctor of the open
// data set (Send Pro-Forma's to Everyone). Each run logs in once, writes the PDFs into a temporary
// folder of its own, mails them on that one connection and disconnects at the end.
class PaymentSender
{
public:
    // Takes over the mail hooks of documents and batch.
    PaymentSender(const AppSettings& settings, AppState& state, Documents& documents, BatchPrint& batch,
                  Prompter& prompter, MailStatus* status);
    ~PaymentSender();
    PaymentSender(const PaymentSender&) = delete;
    PaymentSender& operator=(const PaymentSender&) = delete;

    // The send of one doctor, after the user confirmed it. True when his message went.
    bool SendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows);
    // Asks "Send Pro Forma Invoices to ALL?", then runs the batch in sending mode. dataSetOpen: the
    // main window lists doctors. The number of messages sent; -1 when the run did not go ahead or a
    // database error ended it.
    int SendAll(bool dataSetOpen);

    // Messages the server accepted in the last run.
    int messagesSent() const { return m_sent; }
    // Every message of the last run, in the order tried.
    const QList<SendRecord>& records() const { return m_records; }
    // Told of each message as soon as its outcome is known.
    std::function<void(const SendRecord&)> messageDone;
    SmtpSession& session() { return m_session; }

private:
    bool openFolder();
    void closeFolder();
    QString login();
    QString mail(const InvoiceMail& mail);

    const AppSettings& m_settings;
    AppState& m_state;
    Documents& m_documents;
    BatchPrint& m_batch;
    Prompter& m_prompter;
    SmtpSession m_session;
    std::unique_ptr<QTemporaryDir> m_folder;
    int m_runs = 0; // runs going on at once (the windows stay usable during network waits)
    int m_sent = 0;
    QList<SendRecord> m_records;
};

} // namespace velmar
