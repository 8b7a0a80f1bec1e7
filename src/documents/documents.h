#pragma once

#include "payments/payments.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>

#include <functional>
#include <memory>

namespace velmar {

class InvoiceReport;
class Report;
class PaymentsSummaryReport;
class PensionFormReport;
class PensionSummaryReport;
class Prompter;
class ReportOutput;
struct AppSettings;
struct AppState;

// What the invoice routine hands to the e-mail of one doctor in a sending run, after writing his PDFs.
struct InvoiceMail
{
    QString invoicePath;     // the invoice just written
    QString pensionFormPath; // the pension form, written when pensionFormWanted
    QString ProFormaPdfName; // attachment names
    QString SoloPdfName;
    bool pensionFormWanted = false;
    QString email;
    QString name;       // title and surname
    QString id;         // the doctor's
    double payment = 0; // the payment his invoice states
    // Why his documents could not be written; nothing is to be sent then.
    QString documentsError;
};
// Sends one doctor's mail, or is told why there is none to send (documentsError). Returns the
// whole message to show, or an empty text when there is none to show.
using PaymentMailer = std::function<QString(const InvoiceMail& mail)>;

// The program's report forms and the routines that fill them. Created once; every run reuses the
// forms, so what one run sets (captions, enabled states) stays until a later run sets it again.
class Documents
{
public:
    Documents(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Prompter& prompter,
              ReportOutput& output);
    ~Documents();
    Documents(const Documents&) = delete;
    Documents& operator=(const Documents&) = delete;

    InvoiceReport& frmPrint() { return *m_invoice; }
    PensionFormReport& frmSolo() { return *m_solo; }
    PensionFormReport& frmSoloIR() { return *m_soloIR; }
    // The form of the configured variant.
    PensionFormReport& pensionForm();
    PaymentsSummaryReport& summary() { return *m_summary; }
    PensionSummaryReport& soloSummary() { return *m_soloSummary; }

    // Previews or prints one doctor's invoice; with SendingMode on, writes his PDFs and mails them.
    // The report runs shiftRowsStatement itself; the figures come from shiftRows. Failures are
    // shown to the user ("Error in query: ...", or why a file could not be written); the program's
    // callers go on either way, the command line learns from the result whether the invoice was
    // produced (lastError() says why not).
    bool ProduceInvoice(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows, const QString& shiftRowsStatement,
                        bool preview);
    // Fills the pension form and shows or prints it (empty file name) or writes it to the PDF file.
    // Reports nothing itself: a failure comes back in error.
    bool ProducePensionForm(const QString& fileName, const QSqlRecord& doctor, double pay, double employee,
                            double additional, double employer, QString* error);
    // The summary of the current data set (the pension summary in pension-form mode), previewed or
    // printed. A failure is shown to the user.
    bool RunSummary(bool print);
    // The summary report of the current data set, set to start a fresh run (for exports).
    Report& prepareSummary();

    // A run's own data set and label: while set (not null), the invoices and pension forms name
    // these, whatever data set the windows open meanwhile. A null data set ends it.
    void setRunDataSet(const QString& dataSet, const QString& label);
    QString dataSet() const;
    QString dataSetLabel() const;
    bool pinned() const { return !m_runDataSet.isNull(); }

    // Sending runs: the folder where the PDFs handed to the mail are written, and the mail itself.
    void setSendingFolder(const QString& folder) { m_sendingFolder = folder; }
    void setPaymentMailer(PaymentMailer mailer) { m_mailer = std::move(mailer); }
    QString ProFormaPdfName() const { return m_proFormaPdfName; }
    QString SoloPdfName() const { return m_soloPdfName; }
    QString invoicePdfPath() const;
    QString SoloPdfPath() const;

    // The figures of the last invoice.
    PaymentFigures lastFigures() const { return m_figures; }
    QString lastError() const { return m_lastError; }
    // Why the last invoice was not produced: its rows could not be read, or the printer (or file)
    // it went to failed.
    enum class Failure { None, Query, Output };
    Failure lastFailure() const { return m_lastFailure; }

private:
    bool sendInvoice(const QSqlRecord& doctor, QString* error, bool* reported);
    bool writeMailDocuments(const QSqlRecord& doctor, InvoiceMail* mail, QString* error);

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    ReportOutput& m_output;
    std::unique_ptr<InvoiceReport> m_invoice;
    std::unique_ptr<PensionFormReport> m_solo;
    std::unique_ptr<PensionFormReport> m_soloIR;
    std::unique_ptr<PaymentsSummaryReport> m_summary;
    std::unique_ptr<PensionSummaryReport> m_soloSummary;
    PaymentFigures m_figures;
    QString m_runDataSet;
    QString m_runLabel;
    QString m_sendingFolder;
    PaymentMailer m_mailer;
    QString m_proFormaPdfName;
    QString m_soloPdfName;
    QString m_lastError;
    Failure m_lastFailure = Failure::None;
};

// Holds the documents to the data set they name now (see setRunDataSet) for as long as it lives;
// one inside another keeps the outer one's.
class DataSetPin
{
public:
    explicit DataSetPin(Documents& documents) : m_documents(documents), m_outer(documents.pinned())
    {
        if (!m_outer)
            m_documents.setRunDataSet(m_documents.dataSet(), m_documents.dataSetLabel());
    }
    ~DataSetPin()
    {
        if (!m_outer)
            m_documents.setRunDataSet(QString(), QString());
    }
    DataSetPin(const DataSetPin&) = delete;
    DataSetPin& operator=(const DataSetPin&) = delete;

private:
    Documents& m_documents;
    bool m_outer;
};

} // namespace velmar
