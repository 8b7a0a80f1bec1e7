#include "uitestsupport.h"

#include "core/clock.h"
#include "documents/documents.h"
#include "documents/reportsfixture.h"
#include "gui/detailwindow.h"
#include "gui/filedialogs.h"
#include "gui/mainwindow.h"
#include "gui/printerreportoutput.h"
#include "gui/progresswindow.h"
#include "gui/reportpreviewwindow.h"
#include "gui/reportscontroller.h"
#include "gui/windowplaces.h"
#include "payments/payments.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolBar>

using namespace velmar;
using namespace velmar::test;

namespace {

QAction* tool(QWidget* window, const char* name)
{
    QAction* a = window->findChild<QAction*>(QString::fromUtf8(name));
    EXPECT_NE(a, nullptr) << name;
    return a;
}

class ReportsUiTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        FileDialogs::reset();
        exec(QStringLiteral("BEGIN"));
        for (int i = 1; i <= 60; ++i) {
            TestDoctor d;
            d.id = QString::number(1000 + i);
            d.sname = QStringLiteral("Surname%1").arg(i, 2, 10, QChar(u'0'));
            d.fname = QStringLiteral("Kim");
            addDoctor(d);
            addShift(d.id, TestShift());
        }
        exec(QStringLiteral("COMMIT"));
    }
    void TearDown() override
    {
        FileDialogs::reset();
        ReportsTest::TearDown();
    }
    // Makes a report form's printer write a PDF file.
    static void printToFile(PrinterReportOutput& output, const QString& report, const QString& file)
    {
        QPrinter& printer = output.printerFor(report);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
    }
    const FixedClock m_clock{QDateTime(QDate(2005, 3, 1), QTime(9, 30))};
};

} // namespace

TEST(ProgressWindowTest, ShowsThePercentageOfDoctorsDone)
{
    ProgressWindow window;
    EXPECT_EQ(window.objectName(), QStringLiteral("TfrmProgress"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Progress"));
    EXPECT_EQ(window.size(), QSize(373, 86));
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("Bar"));
    auto* label = window.findChild<QLabel*>(QStringLiteral("lblPercent"));
    ASSERT_TRUE(bar && label);
    EXPECT_EQ(label->text(), QStringLiteral("%"));
    window.SetProgressRange(0, 3);
    window.showProgress();
    EXPECT_TRUE(window.isVisible());
    QStringList seen;
    for (int i = 0; i < 3; ++i) {
        window.SetProgressPosition(i);
        seen.append(label->text());
        EXPECT_EQ(bar->value(), i);
    }
    EXPECT_EQ(seen, (QStringList{QStringLiteral("0%"), QStringLiteral("33%"), QStringLiteral("66%")}));
    window.hideProgress();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(ReportsUiTest, PrintingGoesThroughTheReportsPrinter)
{
    PrinterReportOutput output;
    const QString invoice = path(QStringLiteral("printed-invoice.pdf"));
    const QString summary = path(QStringLiteral("printed-summary.pdf"));
    printToFile(output, QStringLiteral("TfrmPrint"), invoice);
    printToFile(output, QStringLiteral("TSoloSummary"), summary);
    Documents documents(settings, state, m_db, m_prompter, output);
    const QString id = QStringLiteral("1001");
    ASSERT_TRUE(
        documents.ProduceInvoice(doctorRow(id), shiftRows(id), ShiftRowsStatement(QStringLiteral("DS1"), id), false));
    PdfText pdf;
    ASSERT_TRUE(pdf.load(invoice));
    // The same layout as the PDF export: "To:" at 21.1 mm in the title band.
    const PdfWord to = pdf.only(QStringLiteral("To:"));
    EXPECT_NEAR(to.box.left(), 12.7, 1.0);
    EXPECT_NEAR(to.box.top(), 12.7 + 21.1, 1.0);
    EXPECT_NEAR(pdf.only(QStringLiteral("Date: 01/03/2005")).box.right(), 12.7 + 184.6, 1.0);

    settings.Solo = true;
    ASSERT_TRUE(documents.RunSummary(true));
    PdfText wide;
    ASSERT_TRUE(wide.load(summary));
    EXPECT_NEAR(wide.pageSize(1).width(), 297, 0.5);
    EXPECT_TRUE(wide.contains(QStringLiteral("Surname60, K")));
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(ReportsUiTest, PreviewPagesThroughAndSavesTheSummaryAsSpreadsheet)
{
    PrinterReportOutput output;
    Documents documents(settings, state, m_db, m_prompter, output);
    const QString csv = path(QStringLiteral("saved.csv"));
    const QString pdf = path(QStringLiteral("saved.pdf"));
    int pages = 0;
    QStringList visited;
    onNextModal([&](QWidget* window) {
        auto* preview = qobject_cast<ReportPreviewWindow*>(window);
        ASSERT_NE(preview, nullptr);
        // On the test's screen, smaller than the preview's first size: the whole window on it, its Close
        // within reach.
        EXPECT_TRUE(window->screen()->availableGeometry().contains(window->frameGeometry()));
        auto* tools = window->findChild<QToolBar*>(QStringLiteral("PreviewTools"));
        ASSERT_NE(tools, nullptr);
        QWidget* close = tools->widgetForAction(tool(window, "ClosePreview"));
        ASSERT_NE(close, nullptr);
        EXPECT_TRUE(close->isVisible());
        EXPECT_LE(close->mapTo(window, QPoint(close->width(), 0)).x(), window->width());
        pages = preview->pageCount();
        visited.append(QString::number(preview->currentPage()));
        tool(window, "NextPage")->trigger();
        visited.append(QString::number(preview->currentPage()));
        tool(window, "FirstPage")->trigger();
        visited.append(QString::number(preview->currentPage()));
        tool(window, "LastPage")->trigger();
        visited.append(QString::number(preview->currentPage()));
        tool(window, "ZoomIn")->trigger();
        FileDialogs::setNextFileName(csv);
        tool(window, "SaveReport")->trigger();
        FileDialogs::setNextFileName(pdf);
        tool(window, "SaveReport")->trigger();
        EXPECT_EQ(tool(window, "NextPage")->shortcut(), QKeySequence(Qt::Key_PageDown));
        tool(window, "ClosePreview")->trigger();
    });
    ASSERT_TRUE(documents.RunSummary(false));
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(visited,
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("2")}));

    ASSERT_EQ(FileDialogs::requests().size(), 2);
    EXPECT_EQ(QFileInfo(FileDialogs::requests().first().directory).fileName(), QStringLiteral("Summary_DS1.pdf"));
    EXPECT_EQ(
        FileDialogs::requests().first().nameFilters,
        (QStringList{QStringLiteral("Adobe PDF files (*.pdf)"), QStringLiteral("CSV spreadsheet files (*.csv)")}));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(file.readAll().mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 62);
    EXPECT_EQ(lines.at(1), QStringLiteral("doctor,\"Surname01, K\",450.00,0.00,450.00,,450.00"));
    EXPECT_EQ(lines.last(), QStringLiteral("total,Total,27000.00,0.00,27000.00,,27000.00"));
    PdfText saved;
    ASSERT_TRUE(saved.load(pdf));
    EXPECT_EQ(saved.pageCount(), 2);
}

TEST_F(ReportsUiTest, PrintAllCanBeCancelledAndAPrinterFailureIsToldOnceAndStopsTheRun)
{
    MainWindow mainWindow(settings, state, m_db, m_prompter);
    ReportsController reports(settings, state, m_db, m_prompter, &mainWindow);
    DetailWindow detail(settings, state, m_db, m_prompter, &mainWindow);
    reports.attach(mainWindow, detail);
    state.CurrentDataSet = QStringLiteral("DS1");
    mainWindow.RefreshDoctorList();
    printToFile(reports.output(), QStringLiteral("TfrmPrint"), path(QStringLiteral("run.pdf")));
    auto* printAll = mainWindow.findChild<QAction*>(QStringLiteral("PrintAll1"));

    // Cancel while the first doctor prints: he is finished, nobody after him. The window says what
    // runs, and how far, in its caption too.
    QString caption;
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* cancel = reports.progressWindow().findChild<QPushButton*>(QStringLiteral("btnCancel"));
        ASSERT_TRUE(cancel && cancel->isVisible());
        caption = reports.progressWindow().windowTitle();
        shown = reports.progressWindow().shownText();
        cancel->click();
    });
    printAll->trigger();
    EXPECT_EQ(caption, QStringLiteral("Progress \u2013 Printing 1 of 60"));
    EXPECT_EQ(shown, QStringLiteral("Printing 1 of 60: Dr Kim Surname01"));
    EXPECT_EQ(QDir(m_dir.path()).entryList({QStringLiteral("Surname*.pdf")}),
              QStringList{QStringLiteral("Surname01_DS1.pdf")});
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: Printed 1 invoices\nCancelled after Dr Kim "
                                                              "Surname01: 59 more not printed\nOne PDF file per "
                                                              "doctor in %1\n\nSurname01_DS1.pdf")
                                                   .arg(QDir::toNativeSeparators(m_dir.path()))});
    EXPECT_FALSE(reports.progressWindow().findChild<QPushButton*>(QStringLiteral("btnCancel"))->isVisible());

    // No printer at all: Printer Setup opens; cancelled, one message naming the failure instead of
    // one per doctor, then the end.
    m_prompter.messages.clear();
    printToFile(reports.output(), QStringLiteral("TfrmPrint"), QString());
    QString setupTitle;
    QString accept;
    onNextModal([&](QWidget* w) {
        setupTitle = w->windowTitle();
        auto* buttons = w->findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly);
        accept = buttons ? buttons->button(QDialogButtonBox::Ok)->text() : QString();
        QMetaObject::invokeMethod(w, "reject");
    });
    printAll->trigger();
    EXPECT_EQ(setupTitle, QStringLiteral("Printer Setup"));
    EXPECT_EQ(accept, QStringLiteral("OK"));
    ASSERT_EQ(m_prompter.messages.size(), 2);
    EXPECT_TRUE(m_prompter.messages[0].startsWith(QStringLiteral("error: Printing failed: no printer is set up")))
        << m_prompter.messages[0].toStdString();
    EXPECT_EQ(m_prompter.messages[1], QStringLiteral("error: Printed 0 invoices\nNot printed: Dr Kim Surname01\n"
                                                     "Stopped after Dr Kim Surname01: 59 more not printed"));
    // The detail window's Print This Page says the same, not "Error in query".
    m_prompter.messages.clear();
    state.CurrentDoctorId = QStringLiteral("1001");
    detail.show();
    onNextModal([](QWidget* w) { QMetaObject::invokeMethod(w, "reject"); });
    detail.findChild<QAction*>(QStringLiteral("PrintThisPage1"))->trigger();
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_TRUE(m_prompter.messages[0].startsWith(QStringLiteral("error: Printing failed: ")));
    detail.hide();
}

TEST_F(ReportsUiTest, PrinterChoiceOfTheInvoiceGoesToThreeOtherForms)
{
    PrinterReportOutput output;
    printToFile(output, QStringLiteral("TfrmPrint"), path(QStringLiteral("chosen.pdf")));
    output.sharePrinterChoice();
    for (const char* follows : {"TSummary", "TSoloSummary", "TfrmSolo"})
        EXPECT_EQ(output.printerFor(QString::fromUtf8(follows)).outputFileName(), path(QStringLiteral("chosen.pdf")))
            << follows;
    EXPECT_TRUE(output.printerFor(QStringLiteral("TfrmSoloIR")).outputFileName().isEmpty());

    // Chosen in Printer Setup, the printer is the next run's too.
    const QString chosen = path(QStringLiteral("kept.pdf"));
    onNextModal([&](QWidget* w) {
        auto* printers = w->findChild<QComboBox*>(QStringLiteral("printers"));
        ASSERT_NE(printers, nullptr);
        printers->setCurrentIndex(printers->findText(QStringLiteral("PDF"), Qt::MatchContains));
        w->findChild<QLineEdit*>(QStringLiteral("filename"))->setText(chosen);
        QMetaObject::invokeMethod(w, "accept");
    });
    EXPECT_TRUE(output.PrinterSetup(nullptr));
    PrinterReportOutput nextRun;
    for (const char* form : {"TfrmPrint", "TSummary"})
        EXPECT_EQ(nextRun.printerFor(QString::fromUtf8(form)).outputFileName(), chosen) << form;
    UserWindowSettings()->remove(QStringLiteral("Printer"));
}

TEST_F(ReportsUiTest, WindowsReachTheReportsThroughTheController)
{
    MainWindow mainWindow(settings, state, m_db, m_prompter);
    DetailWindow detail(settings, state, m_db, m_prompter, &mainWindow);
    ReportsController reports(settings, state, m_db, m_prompter, &mainWindow);
    reports.attach(mainWindow, detail);
    const QString printed = path(QStringLiteral("printed.pdf"));
    printToFile(reports.output(), QStringLiteral("TfrmPrint"), printed);
    auto action = [&](QWidget& w, const char* name) { return w.findChild<QAction*>(QString::fromUtf8(name)); };

    // Nothing open yet.
    state.CurrentDataSet.clear();
    mainWindow.RefreshDoctorList();
    action(mainWindow, "PrintAll1")->trigger();
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("info: Please open a file before printing")});
    m_prompter.messages.clear();

    state.CurrentDataSet = QStringLiteral("DS1");
    mainWindow.RefreshDoctorList();
    state.CurrentDoctorId = QStringLiteral("1042");
    detail.show();
    ASSERT_TRUE(detail.isLoaded());
    action(detail, "PrintThisPage1")->trigger();
    PdfText one;
    ASSERT_TRUE(one.load(printed));
    EXPECT_TRUE(one.contains(QStringLiteral("Dr Kim Surname42")));

    // A pension form written to a file says where, in the window that asked.
    FileDialogs::setNextFileName(path(QStringLiteral("form.pdf")));
    action(detail, "CreateSoloPDF1")->trigger();
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("form.pdf"))));
    EXPECT_EQ(detail.findChild<QLabel*>(QStringLiteral("SendStatus"))->text(),
              QStringLiteral("Wrote ") + QDir::toNativeSeparators(path(QStringLiteral("form.pdf"))));

    bool previewed = false;
    onNextModal([&](QWidget* window) {
        previewed = qobject_cast<ReportPreviewWindow*>(window) != nullptr;
        EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Surname42_DS1")));
        QMetaObject::invokeMethod(window, "reject");
    });
    action(detail, "PrintPreview1")->trigger();
    EXPECT_TRUE(previewed);

    // Print All to a printer that writes a file: one file per doctor beside the chosen one, the
    // progress at 100 % and gone afterwards, and the end says what was written where.
    QFile::remove(printed);
    // The run owns its data set: an import meanwhile is refused, and every file is of DS1.
    QStringList duringRun;
    QTimer::singleShot(0, &mainWindow, [&] {
        mainWindow.ImportFile(path(QStringLiteral("other.pay")));
        duringRun = m_prompter.messages;
        m_prompter.messages.clear();
    });
    action(mainWindow, "PrintAll1")->trigger();
    EXPECT_EQ(duringRun, QStringList{QStringLiteral("info: Printing is in progress.")});
    EXPECT_FALSE(reports.progressWindow().isVisible());
    EXPECT_EQ(reports.progressWindow().percentText(), QStringLiteral("100%"));
    EXPECT_EQ(reports.progressWindow().progressText(), QStringLiteral("Dr Kim Surname60"));
    EXPECT_FALSE(QFile::exists(printed));
    PdfText last;
    ASSERT_TRUE(last.load(path(QStringLiteral("Surname60_DS1.pdf"))));
    EXPECT_TRUE(last.contains(QStringLiteral("Dr Kim Surname60")));
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_TRUE(m_prompter.messages.first().startsWith(
        QStringLiteral("info: Printed 60 invoices\nOne PDF file per doctor in %1\n\nSurname01_DS1.pdf\n")
            .arg(QDir::toNativeSeparators(m_dir.path()))))
        << m_prompter.messages.first().toStdString();
    m_prompter.messages.clear();

    previewed = false;
    onNextModal([&](QWidget* window) {
        previewed = qobject_cast<ReportPreviewWindow*>(window) != nullptr;
        QMetaObject::invokeMethod(window, "reject");
    });
    action(mainWindow, "Summary1")->trigger();
    EXPECT_TRUE(previewed);
    detail.hide();
}
