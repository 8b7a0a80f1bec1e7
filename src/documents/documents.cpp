#include "documents/documents.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/reading.h"
#include "documents/invoicereport.h"
#include "documents/paymentssummaryreport.h"
#include "documents/pensionformreport.h"
#include "documents/pensionsummaryreport.h"
#include "report/pdfexportfilter.h"
#include "report/reportoutput.h"

#include <QDir>

namespace velmar {

namespace {

QString text(const QSqlRecord& row, const char* column)
{
    return row.value(QString::fromUtf8(column)).toString();
}

// Runs a function when the scope ends, however it ends.
template <typename F> class AtExit
{
public:
    explicit AtExit(F f) : m_f(std::move(f)) {}
    ~AtExit() { m_f(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    F m_f;
};

// The invoice's title band grows by this much in pro-forma mode (200 layout units at 160 %).
constexpr double kProFormaDrop = 31.75;
// ...and its title then stands this far above the band's bottom edge (80 units).
constexpr double kProFormaTitleLift = 12.7;

} // namespace

Documents::Documents(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Prompter& prompter,
                     ReportOutput& output)
    : m_settings(settings), m_state(state), m_db(db), m_prompter(prompter), m_output(output),
      m_invoice(std::make_unique<InvoiceReport>()),
      m_solo(std::make_unique<PensionFormReport>(PensionFormReport::EnglandWales)),
      m_soloIR(std::make_unique<PensionFormReport>(PensionFormReport::NorthernIreland)),
      m_summary(std::make_unique<PaymentsSummaryReport>(settings, state, db)),
      m_soloSummary(std::make_unique<PensionSummaryReport>(settings, state, db))
{
}

Documents::~Documents() = default;

PensionFormReport& Documents::pensionForm()
{
    return PensionFormReport::variantFor(m_settings.Employerannuation) == PensionFormReport::EnglandWales ? *m_solo
                                                                                                          : *m_soloIR;
}

QString Documents::invoicePdfPath() const
{
    return m_sendingFolder.isEmpty() ? QString() : QDir(m_sendingFolder).filePath(QStringLiteral("payment.pdf"));
}

QString Documents::SoloPdfPath() const
{
    return m_sendingFolder.isEmpty() ? QString() : QDir(m_sendingFolder).filePath(QStringLiteral("solo.pdf"));
}

void Documents::setRunDataSet(const QString& dataSet, const QString& label)
{
    m_runDataSet = dataSet;
    m_runLabel = label;
}

QString Documents::dataSet() const
{
    return m_runDataSet.isNull() ? m_state.CurrentDataSet : m_runDataSet;
}

QString Documents::dataSetLabel() const
{
    return m_runDataSet.isNull() ? m_state.CurrentDataSetLabel : m_runLabel;
}

bool Documents::ProduceInvoice(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows,
                               const QString& shiftRowsStatement, bool preview)
{
    InvoiceReport& form = *m_invoice;
    ReportBand& titleBand = form.titleBand();
    ReportControl& toLabel = form[QStringLiteral("QRLabel8")];
    ReportControl& nameLabel = form[QStringLiteral("lblName")];
    ReportControl& addressLabel = form[QStringLiteral("lblAddress")];
    ReportControl& dateLabel = form[QStringLiteral("QRSysData1")];
    ReportControl& titleLabel = form[QStringLiteral("lblLabel")];

    const double bandHeight = titleBand.height;
    const double toTop = toLabel.rect.top();
    const double addressTop = addressLabel.rect.top();
    // Whatever happens below, the next invoice starts from the design positions.
    const AtExit restore([&] {
        titleBand.height = bandHeight;
        for (ReportControl* c : {&toLabel, &nameLabel, &dateLabel})
            c->rect.moveTop(toTop);
        addressLabel.rect.moveTop(addressTop);
    });

    QString address;
    if (m_settings.ProForma) {
        form[QStringLiteral("Header1")].caption.clear();
        form[QStringLiteral("Header2")].caption.clear();
        form[QStringLiteral("Header3")].caption.clear();
        nameLabel.caption = m_settings.Add1;
        address =
            QStringList{m_settings.Add2, m_settings.Add3, m_settings.Add4, m_settings.Add5, m_settings.Add6}.join(u'|');
        form[QStringLiteral("qrPaymentTo")].caption = FormatAddressLines(
            DoctorFullName(doctor) + u'|' + text(doctor, "add1") + u'|' + text(doctor, "add2") + u'|' +
            text(doctor, "town") + u'|' + text(doctor, "county") + u'|' + text(doctor, "postcode"));
        titleBand.height += kProFormaDrop;
        for (ReportControl* c : {&toLabel, &nameLabel, &addressLabel, &dateLabel})
            c->rect.translate(0, kProFormaDrop);
        titleLabel.rect.moveTop(titleBand.height - kProFormaTitleLift);
    } else {
        form[QStringLiteral("Header1")].caption = m_settings.Name;
        form[QStringLiteral("Header2")].caption = m_settings.Address;
        form[QStringLiteral("Header3")].caption = m_settings.Telephone;
        nameLabel.caption = DoctorFullName(doctor);
        form[QStringLiteral("qrPaymentTo")].caption.clear();
        address = QStringList{text(doctor, "add1"), text(doctor, "add2"), text(doctor, "town"), text(doctor, "county"),
                              text(doctor, "postcode")}
                      .join(u'|');
    }
    addressLabel.caption = FormatAddressLines(address);
    titleLabel.caption = QStringLiteral("Shift Payment for ") + dataSetLabel();
    form[QStringLiteral("QRSysData2")].caption =
        DoctorFullName(doctor) + QStringLiteral(" - ") + dataSet() + QStringLiteral(" - ");

    const PaymentFigures figures = ComputePaymentFigures(m_settings, doctor, shiftRows);
    m_figures = figures;

    if (m_settings.PartSuperannuation) {
        form[QStringLiteral("QRLabel12")].caption = QStringLiteral("Total Superannuable");
        form[QStringLiteral("QRLabel7")].caption = QStringLiteral("Total Non-Superannuable");
    } else {
        form[QStringLiteral("QRLabel7")].caption.clear();
        form[QStringLiteral("lblNonSuperannuable")].caption.clear();
    }

    if (m_settings.Solo) {
        form[QStringLiteral("lblTotal")].caption = FormatMoney(figures.superannuableFees);
        form[QStringLiteral("lblSuper")].caption = FormatMoney(figures.superannuation);
        form[QStringLiteral("lblSuperText")].caption = QStringLiteral("Superannuation");
        form[QStringLiteral("lblExtraText")].caption =
            QString::asprintf("Additional Contrib @ %0.2f%%", doctor.value(QStringLiteral("annuity")).toDouble());
        form[QStringLiteral("lblExtra")].caption = FormatMoney(figures.additionalContribution);
        form[QStringLiteral("QRLabel13")].caption =
            figures.payGross ? QStringLiteral("GROSS Payment") : QStringLiteral("Net Payment");
        form[QStringLiteral("lblNet")].caption = FormatMoney(PrintedPayment(m_settings, figures));
    } else {
        form[QStringLiteral("lblTotal")].caption = FormatMoney(figures.gross);
        form[QStringLiteral("lblSuper")].caption = FormatMoney(figures.superannuation);
        form[QStringLiteral("lblNet")].caption = FormatMoney(PrintedPayment(m_settings, figures));
        form[QStringLiteral("lblExtraText")].enabled = false;
        form[QStringLiteral("lblExtra")].enabled = false;
    }
    if (m_settings.PartSuperannuation)
        form[QStringLiteral("lblNonSuperannuable")].caption = FormatMoney(figures.nonSuperannuableFees);

    if (m_settings.NoSuperannuation) {
        for (const char* name : {"lblSuperText", "lblSuper", "lblNet", "QRLabel13", "lblExtraText", "lblExtra"})
            form[QString::fromUtf8(name)].enabled = false;
    }

    Report& report = form.report();
    report.setDocumentName(text(doctor, "sname") + u'_' + dataSet());
    QString error;
    bool ok = false;
    bool reported = false;
    QList<QSqlRecord> rows;
    QString trouble;
    const bool rowsRead = QueryRecords(m_db, shiftRowsStatement, &rows, nullptr, &trouble);
    if (!rowsRead) {
        error = ReadFailure(trouble, shiftRowsStatement);
    } else {
        report.setDataRows(rows);
        if (preview)
            ok = m_output.preview(report, &error);
        else if (!m_state.SendingMode)
            ok = m_output.print(report, &error);
        else
            ok = sendInvoice(doctor, &error, &reported);
    }
    report.setDataRows({});
    m_lastError = ok ? QString() : error;
    m_lastFailure = ok ? Failure::None : rowsRead ? Failure::Output : Failure::Query;
    // A file that could not be written, or a printer that failed, is told as what it is; a mail
    // that was told why its documents are missing has said so itself.
    if (!ok && !reported)
        m_prompter.error(!error.isEmpty() ? error : ReadFailure(trouble, shiftRowsStatement));
    return ok;
}

bool Documents::writeMailDocuments(const QSqlRecord& doctor, InvoiceMail* mail, QString* error)
{
    if (m_sendingFolder.isEmpty()) {
        *error = QStringLiteral("no folder for the documents to send");
        return false;
    }
    mail->invoicePath = invoicePdfPath();
    if (!WriteReportPdf(m_invoice->report(), mail->invoicePath, error))
        return false;
    if (mail->pensionFormWanted) {
        mail->pensionFormPath = SoloPdfPath();
        if (!ProducePensionForm(mail->pensionFormPath, doctor, m_figures.gross, m_figures.superannuation,
                                m_figures.additionalContribution, m_figures.employerContribution, error))
            return false;
    }
    return true;
}

bool Documents::sendInvoice(const QSqlRecord& doctor, QString* error, bool* reported)
{
    InvoiceMail mail;
    m_proFormaPdfName = text(doctor, "sname") + u'_' + dataSet() + QStringLiteral(".pdf");
    mail.pensionFormWanted = m_settings.Solo && !m_figures.noPension;
    if (mail.pensionFormWanted)
        m_soloPdfName = text(doctor, "sname") + QStringLiteral("_Solo_") + dataSet() + QStringLiteral(".pdf");
    mail.ProFormaPdfName = m_proFormaPdfName;
    mail.SoloPdfName = m_soloPdfName;
    mail.payment = PrintedPayment(m_settings, m_figures);
    mail.email = text(doctor, "email");
    mail.name = text(doctor, "title") + u' ' + text(doctor, "sname");
    mail.id = text(doctor, "id");
    const bool written = writeMailDocuments(doctor, &mail, error);
    // Without a mail to tell, a failure is the invoice routine's own to report.
    if (!written && !m_mailer)
        return false;
    if (!written)
        mail.documentsError = *error;
    const QString result =
        m_mailer ? m_mailer(mail) : QStringLiteral("E-mail is not available sending email to %1").arg(mail.email);
    if (!result.isEmpty())
        m_prompter.error(result);
    *reported = true;
    return written;
}

bool Documents::ProducePensionForm(const QString& fileName, const QSqlRecord& doctor, double pay, double employee,
                                   double additional, double employer, QString* error)
{
    PensionFormReport& form = pensionForm();
    std::unique_ptr<PdfExportFilter> filter;
    if (!fileName.isEmpty()) {
        filter = std::make_unique<PdfExportFilter>(fileName);
        filter->AddFontMap(QStringLiteral("Arial:Helvetica:Times"));
        if (!filter->StartConcat(error))
            return false;
    }
    form[QStringLiteral("qrName")].caption = text(doctor, "fname") + u' ' + text(doctor, "sname");
    const QString nino = text(doctor, "nino") + QString(10, u' ');
    for (int i = 0; i < 9; ++i)
        form[QStringLiteral("qrNHS%1").arg(i + 1)].caption = nino.at(i);
    form[QStringLiteral("qrNHSPS_No")].caption = form.membershipPrefix() + text(doctor, "nhspsno");
    form[QStringLiteral("qrHostPCT")].caption = text(doctor, "pct");
    form[QStringLiteral("qrMonthName")].caption = dataSetLabel();
    form[QStringLiteral("qrValA")].caption = FormatMoney(pay);
    form[QStringLiteral("qrValB")].caption = QStringLiteral("NIL");
    form[QStringLiteral("qrValC")].caption = FormatMoney(pay);
    form[QStringLiteral("qrValD")].caption = FormatMoney(employee);
    form[QStringLiteral("qrValE")].caption = FormatMoney(additional);
    form[QStringLiteral("qrValF")].caption = FormatMoney(employer);
    form[QStringLiteral("qrValG")].caption = FormatMoney(employee + additional + employer);
    form[QStringLiteral("qrAuthority")].caption = m_settings.NHSPSAuthority;
    form[QStringLiteral("qrEACode")].caption = m_settings.NHSEACode;

    Report& report = form.report();
    report.setDocumentName(QStringLiteral("Solo_") + text(doctor, "sname") + u'_' + dataSet());
    if (!filter)
        return m_state.PreviewPensionForm ? m_output.preview(report, error) : m_output.print(report, error);
    return report.ExportToFilter(*filter, error) && filter->EndConcat(error);
}

Report& Documents::prepareSummary()
{
    Report* report = nullptr;
    if (m_settings.Solo) {
        m_soloSummary->ReportDataSet = m_state.CurrentDataSet;
        m_soloSummary->RestartReport = true;
        report = &m_soloSummary->report();
    } else {
        m_summary->ReportDataSet = m_state.CurrentDataSet;
        m_summary->RestartReport = true;
        report = &m_summary->report();
    }
    report->setDocumentName(QStringLiteral("Summary_") + m_state.CurrentDataSet);
    return *report;
}

bool Documents::RunSummary(bool print)
{
    Report& report = prepareSummary();
    QString error;
    const bool ok = print ? m_output.print(report, &error) : m_output.preview(report, &error);
    if (!ok)
        m_prompter.error(error);
    return ok;
}

} // namespace velmar
