#include "cli/cli.h"
#include "cli/consoleoutput.h"

#include "db/database.h"
#include "documents/batchprint.h"
#include "documents/documents.h"
#include "payments/datasets.h"
#include "payments/payments.h"
#include "report/reportoutput.h"
#include "report/reporttableexport.h"

#include <QDir>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryFile>
#include <QThread>

namespace velmar::cli {
namespace {

bool takeRequired(Context& ctx, QStringList& args, const char* option, const char* command, QString* value)
{
    if (takeOption(args, QString::fromUtf8(option), value) && !value->isEmpty())
        return true;
    ctx.err << command << ": " << option << " is required" << Qt::endl;
    return false;
}

int invoice(Context& ctx, QStringList& args)
{
    QString doctorId, pdf;
    if (!takeRequired(ctx, args, "--doctor", "invoice", &doctorId) ||
        !takeRequired(ctx, args, "--pdf", "invoice", &pdf))
        return 2;
    // The doctor's row, his records and his invoice's rows as one moment left them.
    const ReadSnapshot snapshot(ctx.db);
    if (!began(ctx, snapshot))
        return 1;
    if (const int rc = openDataSet(ctx, args, "invoice"))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    QSqlRecord doctor;
    QList<QSqlRecord> rows;
    if (!LoadDoctor(ctx.db, ctx.state.CurrentDataSet, doctorId, &doctor, ctx.prompter) ||
        !LoadShiftRows(ctx.db, ctx.state.CurrentDataSet, doctorId, &rows, ctx.prompter))
        return 1;
    PdfFileOutput output(pdf);
    Documents documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output);
    // A failure is on stderr already.
    if (!documents.ProduceInvoice(doctor, rows, ShiftRowsStatement(ctx.state.CurrentDataSet, doctorId), false))
        return 1;
    ctx.out << "wrote " << pdf << Qt::endl;
    return 0;
}

int pensionForm(Context& ctx, QStringList& args)
{
    QString doctorId, pdf;
    if (!takeRequired(ctx, args, "--doctor", "pension-form", &doctorId) ||
        !takeRequired(ctx, args, "--pdf", "pension-form", &pdf))
        return 2;
    // The doctor's row, his records and his invoice's rows as one moment left them.
    const ReadSnapshot snapshot(ctx.db);
    if (!began(ctx, snapshot))
        return 1;
    if (const int rc = openDataSet(ctx, args, "pension-form"))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    if (!ctx.settings.Solo) {
        const QString ini = ctx.files.iniPath.isEmpty() ? QStringLiteral("the settings") : ctx.files.iniPath;
        ctx.err << "pension-form: pension forms belong to pension-form mode (DEFAULTS Solo=1 in " << ini << ")"
                << Qt::endl;
        return 1;
    }
    QSqlRecord doctor;
    QList<QSqlRecord> rows;
    if (!LoadDoctor(ctx.db, ctx.state.CurrentDataSet, doctorId, &doctor, ctx.prompter) ||
        !LoadShiftRows(ctx.db, ctx.state.CurrentDataSet, doctorId, &rows, ctx.prompter))
        return 1;
    // The figures of the detail window: superannuable fees in boxes A and C.
    const PaymentFigures f = ComputePaymentFigures(ctx.settings, doctor, rows);
    PdfFileOutput output(pdf);
    Documents documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output);
    QString error;
    if (!documents.ProducePensionForm(pdf, doctor, f.superannuableFees, f.superannuation, f.additionalContribution,
                                      f.employerContribution, &error)) {
        ctx.err << error << Qt::endl;
        return 1;
    }
    ctx.out << "wrote " << pdf << Qt::endl;
    return 0;
}

int summary(Context& ctx, QStringList& args)
{
    QString pdf, csv;
    // The PDF and the CSV of one and the same data set, whoever imports meanwhile.
    const ReadSnapshot snapshot(ctx.db);
    if (!began(ctx, snapshot))
        return 1;
    if (const int rc = openDataSet(ctx, args, "summary"))
        return rc;
    const bool wantPdf = takeOption(args, QStringLiteral("--pdf"), &pdf);
    const bool wantCsv = takeOption(args, QStringLiteral("--csv"), &csv);
    if (unexpectedArguments(ctx, args))
        return 2;
    if (!wantPdf && !wantCsv) {
        ctx.err << "summary: --pdf FILE or --csv FILE is required" << Qt::endl;
        return 2;
    }
    PdfFileOutput output(pdf);
    Documents documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output);
    if (wantPdf) {
        if (!documents.RunSummary(true))
            return 1;
        ctx.out << "wrote " << pdf << Qt::endl;
    }
    if (wantCsv) {
        QString error;
        if (!WriteReportCsv(documents.prepareSummary(), csv, &error)) {
            ctx.err << error << Qt::endl;
            return 1;
        }
        ctx.out << "wrote " << csv << Qt::endl;
    }
    return 0;
}

int printAll(Context& ctx, QStringList& args)
{
    QString folder;
    if (!takeRequired(ctx, args, "--pdf-dir", "print-all", &folder))
        return 2;
    if (const int rc = openDataSet(ctx, args, "print-all"))
        return rc;
    if (unexpectedArguments(ctx, args))
        return 2;
    if (!QDir().mkpath(folder)) {
        ctx.err << "Cannot create folder " << folder << Qt::endl;
        return 1;
    }
    // Before any invoice is laid out: a folder that takes no file would fail every one of them.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".velmarpay-XXXXXX")));
    if (!probe.open()) {
        ctx.err << "Cannot write into " << folder << ": " << probe.errorString() << Qt::endl;
        return 1;
    }
    probe.remove();
    // The files are written on every core while the next doctors are laid out.
    PdfFolderOutput output(folder, QThread::idealThreadCount());
    Documents documents(ctx.settings, ctx.state, ctx.db, ctx.prompter, output);
    LineProgress progress(ctx.out);
    BatchPrint batch(documents, ctx.state, ctx.db, ctx.prompter, progress);
    int done = batch.PrintAll1Click(true);
    QStringList failures;
    if (!output.finish(&failures)) {
        for (const QString& failure : failures)
            ctx.prompter.error(failure);
        done -= int(failures.size());
    }
    if (done < 0)
        return 1;
    ctx.out << "wrote " << done << " invoices to " << folder << Qt::endl;
    return ctx.prompter.errors > 0 ? 1 : 0;
}

const Command invoiceCommand("invoice",
                             "invoice --dataset NAME --doctor ID --pdf FILE\n"
                             "                               write a doctor's pro-forma invoice as PDF",
                             Needs::Database, invoice);
const Command pensionFormCommand("pension-form",
                                 "pension-form --dataset NAME --doctor ID --pdf FILE\n"
                                 "                               write a doctor's pension contribution form as PDF",
                                 Needs::Database, pensionForm);
const Command summaryCommand("summary",
                             "summary --dataset NAME (--pdf FILE | --csv FILE)\n"
                             "                               the payments (or pension) summary as PDF or CSV",
                             Needs::Database, summary);
const Command printAllCommand("print-all",
                              "print-all --dataset NAME --pdf-dir DIR\n"
                              "                               every doctor's invoice as DIR/sname_DataSet.pdf",
                              Needs::Database, printAll);

} // namespace
} // namespace velmar::cli
