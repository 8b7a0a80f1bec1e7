#pragma once

#include "report/reportfonts.h"

#include <QString>

#include <memory>

class QPainter;
class QPdfWriter;
class QPageLayout;

namespace velmar {

class CheckedSaveFile;
class Report;
class ReportRecording;

// Writes reports into one PDF file, in a fixed sequence: construct with the path, AddFontMap,
// StartConcat, ExportToFilter of each report (Report::ExportToFilter), EndConcat.
//
// The pages go to a temporary file beside the target, which replaces the target only when
// EndConcat completes it: a failure never leaves half a file, nor destroys the file that was there.
class PdfExportFilter
{
public:
    explicit PdfExportFilter(const QString& path);
    ~PdfExportFilter();
    PdfExportFilter(const PdfExportFilter&) = delete;
    PdfExportFilter& operator=(const PdfExportFilter&) = delete;

    QString path() const { return m_path; }
    // A font substitution "Report:Pdf:Fallback"; registering the same entry again adds nothing.
    void AddFontMap(const QString& entry);
    const ReportFontMap& fontMap() const { return m_fonts; }

    bool StartConcat(QString* error);
    bool exportReport(Report& report, QString* error);
    // The pages of a recorded run (see ReportRecording).
    bool exportRecording(const ReportRecording& recording, QString* error);
    bool EndConcat(QString* error);

private:
    bool beginReport(const QPageLayout& layout, const QString& documentName, QString* error);

    QString m_path;
    ReportFontMap m_fonts;
    std::unique_ptr<CheckedSaveFile> m_file;
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;
    int m_reports = 0;
};

// The whole sequence for one report, or for one recorded run.
bool WriteReportPdf(Report& report, const QString& path, QString* error);
bool WriteRecordingPdf(const ReportRecording& recording, const QString& path, QString* error);

} // namespace velmar
