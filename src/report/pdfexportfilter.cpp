#include "report/pdfexportfilter.h"

#include "core/prompter.h"
#include "core/savefile.h"
#include "report/report.h"
#include "report/reportpainter.h"
#include "report/reportrecording.h"

#include <QPainter>
#include <QPdfWriter>

namespace velmar {

namespace {
// Fine enough that every position lands within a hundredth of a millimetre.
constexpr int kPdfResolution = 1200;

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}
} // namespace

PdfExportFilter::PdfExportFilter(const QString& path) : m_path(path) {}

PdfExportFilter::~PdfExportFilter()
{
    // An unfinished sequence leaves the target as it was.
    if (m_painter && m_painter->isActive())
        m_painter->end();
    m_painter.reset();
    m_writer.reset();
    if (m_file)
        m_file->cancelWriting();
}

void PdfExportFilter::AddFontMap(const QString& entry)
{
    m_fonts.add(entry);
}

bool PdfExportFilter::StartConcat(QString* error)
{
    if (m_file)
        return fail(error, QStringLiteral("%1 is already being written").arg(m_path));
    m_file = std::make_unique<CheckedSaveFile>(m_path);
    if (!m_file->open(error)) {
        m_file.reset();
        return false;
    }
    m_writer = std::make_unique<QPdfWriter>(m_file.get());
    m_writer->setResolution(kPdfResolution);
    m_writer->setCreator(applicationTitle());
    m_reports = 0;
    return true;
}

bool PdfExportFilter::beginReport(const QPageLayout& layout, const QString& documentName, QString* error)
{
    if (!m_writer)
        return fail(error, QStringLiteral("%1: the export has not been started").arg(m_path));
    // QPdfWriter starts with margins of its own; the report's page set-up replaces them.
    m_writer->setPageLayout(layout);
    if (m_reports == 0) {
        m_writer->setTitle(documentName);
        m_painter = std::make_unique<QPainter>();
        if (!m_painter->begin(m_writer.get()))
            return fail(error, CannotWriteMessage(m_path, QStringLiteral("the PDF cannot be started")));
    }
    return true;
}

bool PdfExportFilter::exportReport(Report& report, QString* error)
{
    if (!beginReport(report.pageLayout(), report.documentName(), error))
        return false;
    ReportPainter sink(*m_painter, *m_writer, m_fonts, m_reports > 0);
    ++m_reports;
    return report.run(sink, error);
}

bool PdfExportFilter::exportRecording(const ReportRecording& recording, QString* error)
{
    if (!beginReport(recording.pageLayout, recording.documentName, error))
        return false;
    const bool newPageFirst = m_reports > 0;
    ++m_reports;
    return PaintRecording(recording, *m_painter, *m_writer, m_fonts, newPageFirst, error);
}

bool PdfExportFilter::EndConcat(QString* error)
{
    if (!m_writer)
        return fail(error, QStringLiteral("%1: the export has not been started").arg(m_path));
    if (!m_painter) {
        // Nothing exported: still a valid document of one empty page.
        m_painter = std::make_unique<QPainter>();
        m_painter->begin(m_writer.get());
    }
    m_painter->end();
    m_painter.reset();
    m_writer.reset();
    const bool written = m_file->commit(error);
    m_file.reset();
    return written;
}

bool WriteReportPdf(Report& report, const QString& path, QString* error)
{
    PdfExportFilter filter(path);
    filter.AddFontMap(QStringLiteral("Arial:Helvetica:Times"));
    return filter.StartConcat(error) && report.ExportToFilter(filter, error) && filter.EndConcat(error);
}

} // namespace velmar

namespace velmar {

bool WriteRecordingPdf(const ReportRecording& recording, const QString& path, QString* error)
{
    PdfExportFilter filter(path);
    filter.AddFontMap(QStringLiteral("Arial:Helvetica:Times"));
    return filter.StartConcat(error) && filter.exportRecording(recording, error) && filter.EndConcat(error);
}

} // namespace velmar
