#include "sending/paymentsender.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "mail/paymentmail.h"
#include "payments/payments.h"

#include <QTemporaryDir>

namespace velmar {

namespace {

// SendingMode is on while the guarded run goes, however it ends; a run started meanwhile does not
// turn it off under the first.
class SendingModeOn
{
public:
    explicit SendingModeOn(AppState& state) : m_state(state), m_before(state.SendingMode)
    {
        m_state.SendingMode = true;
    }
    ~SendingModeOn() { m_state.SendingMode = m_before; }
    SendingModeOn(const SendingModeOn&) = delete;
    SendingModeOn& operator=(const SendingModeOn&) = delete;

private:
    AppState& m_state;
    bool m_before;
};

} // namespace

PaymentSender::PaymentSender(const AppSettings& settings, AppState& state, Documents& documents, BatchPrint& batch,
                             Prompter& prompter, MailStatus* status)
    : m_settings(settings), m_state(state), m_documents(documents), m_batch(batch), m_prompter(prompter),
      m_session(status)
{
    m_documents.setPaymentMailer([this](const InvoiceMail& m) { return mail(m); });
    m_batch.SmtpLogin = [this] { return login(); };
    m_batch.Disconnect = [this] { m_session.Disconnect(); };
}

PaymentSender::~PaymentSender()
{
    m_documents.setPaymentMailer({});
    m_batch.SmtpLogin = {};
    m_batch.Disconnect = {};
}

bool PaymentSender::openFolder()
{
    // A run started while another waits on the network shares its folder: removing it under the
    // first run would lose that doctor's documents.
    if (m_runs++ > 0)
        return true;
    m_sent = 0;
    m_records.clear();
    // The attachments of this run only: nobody else's files, and gone when the run ends.
    m_folder = std::make_unique<QTemporaryDir>();
    if (!m_folder->isValid()) {
        m_prompter.error(
            QStringLiteral("Cannot create a folder for the e-mail attachments: %1").arg(m_folder->errorString()));
        m_folder.reset();
        m_runs = 0;
        return false;
    }
    m_documents.setSendingFolder(m_folder->path());
    return true;
}

void PaymentSender::closeFolder()
{
    if (--m_runs > 0)
        return;
    m_documents.setSendingFolder(QString());
    m_folder.reset();
}

QString PaymentSender::login()
{
    return m_session.SmtpLogin(m_settings).within(QStringLiteral(" logging into email server"));
}

QString PaymentSender::mail(const InvoiceMail& m)
{
    PaymentMail message;
    message.pdfPath = m.invoicePath;
    message.recipient = m.email;
    message.salutationName = m.name;
    message.proFormaPdfName = m.ProFormaPdfName;
    message.pensionFormWanted = m.pensionFormWanted;
    message.soloPdfPath = m.pensionFormPath;
    message.soloPdfName = m.SoloPdfName;
    const MailResult result = SendPaymentMail(m_session, m_settings, message);
    if (result.ok())
        ++m_sent;
    m_records.append(SendRecord{m.id, m.name, m.email.trimmed(), result.outcome, result.reason});
    if (messageDone)
        messageDone(m_records.last());
    return result.within(QStringLiteral(" sending email to ") + m.email);
}

bool PaymentSender::SendOne(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows)
{
    if (!openFolder())
        return false;
    const int sentBefore = m_sent;
    const QString result = login();
    if (!result.isEmpty()) {
        m_prompter.error(result);
        closeFolder();
        return false;
    }
    {
        SendingModeOn sending(m_state);
        m_documents.ProduceInvoice(
            doctor, shiftRows,
            ShiftRowsStatement(m_state.CurrentDataSet, doctor.value(QStringLiteral("id")).toString()), false);
    }
    m_session.Disconnect();
    closeFolder();
    // A failed PDF or a refused message has been reported already; claiming it was sent would be false.
    const bool sent = m_sent > sentBefore;
    if (sent)
        m_prompter.information(QStringLiteral("Email with Pro Forma attachment sent to: %1")
                                   .arg(doctor.value(QStringLiteral("email")).toString()));
    return sent;
}

int PaymentSender::SendAll(bool dataSetOpen)
{
    if (!m_prompter.question(QStringLiteral("Send Pro Forma Invoices to ALL?")))
        return -1;
    // The run itself says "Please open a file before printing" and logs in only with doctors listed.
    if (dataSetOpen && !openFolder())
        return -1;
    const int sentBefore = m_sent;
    int result = 0;
    {
        SendingModeOn sending(m_state);
        result = m_batch.PrintAll1Click(dataSetOpen);
    }
    if (dataSetOpen)
        closeFolder();
    return result < 0 ? -1 : m_sent - sentBefore;
}

} // namespace velmar
