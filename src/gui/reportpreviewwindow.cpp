#include "gui/reportpreviewwindow.h"

#include "core/prompter.h"
#include "gui/filedialogs.h"
#include "gui/windowplaces.h"
#include "report/pdfexportfilter.h"
#include "report/report.h"
#include "report/reportoutput.h"
#include "report/reportpainter.h"
#include "report/reporttableexport.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QVBoxLayout>

namespace velmar {

ReportPreviewWindow::ReportPreviewWindow(Report& report, QPrinter& printer, QWidget* parent)
    : QDialog(parent), m_report(report), m_printer(printer),
      m_previewPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution))
{
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(QStringLiteral("Print Preview - %1").arg(report.documentName()));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    // The preview only needs the page set-up; no print job is ever started on this printer.
    m_previewPrinter->setOutputFormat(QPrinter::PdfFormat);
    m_previewPrinter->setPageLayout(report.pageLayout());

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("PreviewTools"));
    m_preview = new QPrintPreviewWidget(m_previewPrinter.get(), this);
    m_preview->setObjectName(QStringLiteral("PreviewPages"));
    m_pageInfo = new QLabel(this);
    m_pageInfo->setObjectName(QStringLiteral("PageInfo"));

    // Print, save and close first: on a narrow screen the tools at the end go into the tool bar's
    // overflow menu, and these must stay in reach.
    addTool("PrintReport", QStringLiteral("&Print..."), QKeySequence::Print, &ReportPreviewWindow::printReport);
    addTool("SaveReport", QStringLiteral("&Save..."), QKeySequence::Save, &ReportPreviewWindow::saveReport);
    addTool("ClosePreview", QStringLiteral("&Close"), QKeySequence(), &ReportPreviewWindow::reject);
    m_toolBar->addSeparator();
    addTool("FirstPage", QStringLiteral("&First Page"), QKeySequence(Qt::CTRL | Qt::Key_Home),
            &ReportPreviewWindow::firstPage);
    addTool("PriorPage", QStringLiteral("P&rior Page"), QKeySequence(Qt::Key_PageUp),
            &ReportPreviewWindow::previousPage);
    m_toolBar->addWidget(m_pageInfo);
    addTool("NextPage", QStringLiteral("&Next Page"), QKeySequence(Qt::Key_PageDown), &ReportPreviewWindow::nextPage);
    addTool("LastPage", QStringLiteral("&Last Page"), QKeySequence(Qt::CTRL | Qt::Key_End),
            &ReportPreviewWindow::lastPage);
    m_toolBar->addSeparator();
    addTool("ZoomFit", QStringLiteral("&Whole Page"), QKeySequence(Qt::CTRL | Qt::Key_0),
            &ReportPreviewWindow::fitPage);
    addTool("ZoomWidth", QStringLiteral("Page &Width"), QKeySequence(Qt::CTRL | Qt::Key_9),
            &ReportPreviewWindow::fitWidth);
    addTool("ZoomIn", QStringLiteral("Zoom &In"), QKeySequence::ZoomIn, &ReportPreviewWindow::zoomIn);
    addTool("ZoomOut", QStringLiteral("Zoom &Out"), QKeySequence::ZoomOut, &ReportPreviewWindow::zoomOut);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_preview, 1);

    connect(m_preview, &QPrintPreviewWidget::paintRequested, this, &ReportPreviewWindow::paintPreview);
    connect(m_preview, &QPrintPreviewWidget::previewChanged, this, &ReportPreviewWindow::updatePageInfo);
    // A page as high as the screen allows, over the window that asked for it; the last size and
    // place the user gave it win.
    resize(900, 1000);
    RememberWindowPlace(this);
    m_preview->setFocus();
}

ReportPreviewWindow::~ReportPreviewWindow() = default;

QAction* ReportPreviewWindow::addTool(const char* name, const QString& text, const QKeySequence& key,
                                      void (ReportPreviewWindow::*slot)())
{
    QAction* action = m_toolBar->addAction(text);
    action->setObjectName(QString::fromUtf8(name));
    action->setShortcut(key);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void ReportPreviewWindow::paintPreview(QPrinter* printer)
{
    QString error;
    if (!PaintReport(m_report, *printer, &error))
        m_error = error;
}

bool ReportPreviewWindow::render(QString* error)
{
    m_error.clear();
    m_preview->updatePreview();
    if (!m_error.isEmpty()) {
        if (error)
            *error = m_error;
        return false;
    }
    updatePageInfo();
    return true;
}

int ReportPreviewWindow::pageCount() const
{
    return m_preview->pageCount();
}

int ReportPreviewWindow::currentPage() const
{
    return m_preview->currentPage();
}

void ReportPreviewWindow::updatePageInfo()
{
    m_pageInfo->setText(QStringLiteral(" Page %1 of %2 ").arg(m_preview->currentPage()).arg(m_preview->pageCount()));
}

void ReportPreviewWindow::firstPage()
{
    m_preview->setCurrentPage(1);
    updatePageInfo();
}

void ReportPreviewWindow::previousPage()
{
    m_preview->setCurrentPage(std::max(1, m_preview->currentPage() - 1));
    updatePageInfo();
}

void ReportPreviewWindow::nextPage()
{
    m_preview->setCurrentPage(std::min(m_preview->pageCount(), m_preview->currentPage() + 1));
    updatePageInfo();
}

void ReportPreviewWindow::lastPage()
{
    m_preview->setCurrentPage(m_preview->pageCount());
    updatePageInfo();
}

void ReportPreviewWindow::zoomIn()
{
    m_preview->zoomIn();
}

void ReportPreviewWindow::zoomOut()
{
    m_preview->zoomOut();
}

void ReportPreviewWindow::fitWidth()
{
    m_preview->fitToWidth();
}

void ReportPreviewWindow::fitPage()
{
    m_preview->fitInView();
}

void ReportPreviewWindow::printReport()
{
    QPrintDialog dialog(&m_printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_printer.setDocName(m_report.documentName());
    QString error;
    if (!PaintReport(m_report, m_printer, &error))
        QMessageBox::critical(this, applicationTitle(), error);
}

void ReportPreviewWindow::saveReport()
{
    FileDialogRequest request;
    request.caption = QStringLiteral("Save Report");
    request.nameFilters = QStringList{QStringLiteral("Adobe PDF files (*.pdf)")};
    const bool table = HasTableExport(m_report);
    if (table)
        request.nameFilters.append(QStringLiteral("CSV spreadsheet files (*.csv)"));
    request.defaultSuffix = QStringLiteral("pdf");
    request.proposedName = PdfFolderOutput::safeFileName(m_report.documentName()) + QStringLiteral(".pdf");
    const QString path = FileDialogs::getSaveFileName(this, request);
    if (path.isEmpty())
        return;
    QString error;
    const bool csv = table && path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    const bool ok = csv ? WriteReportCsv(m_report, path, &error) : WriteReportPdf(m_report, path, &error);
    if (!ok)
        QMessageBox::critical(this, applicationTitle(), error);
}

} // namespace velmar
