#pragma once

#include "report/reportband.h"

#include <QDate>
#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QSqlRecord>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace velmar {

class PdfExportFilter;
class ReportSink;

// A banded report: an A4 page set-up, bands of controls and the events that fill them.
//
// A run prints the page header (on every page, the first included), the title band, the column
// header (on every page), one detail band per data row or per "yes" of OnNeedData, the summary
// band, and the page footer at the foot of every page, the last included. A band that does not fit
// above the footer goes to the next page; bands of a page that has no room at all still print.
// Bands that the data set leaves empty still print their other bands.
class Report
{
public:
    explicit Report(const QString& name);
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    QString name() const { return m_name; }

    // A4, in millimetres.
    void setPage(QPageLayout::Orientation orientation, const QMarginsF& margins);
    QPageLayout pageLayout() const;
    double bandWidth() const;
    double pageBodyHeight() const;

    ReportBand& addBand(BandKind kind, const QString& name, double height);
    ReportBand* band(const QString& name) const;
    // Searches every band; null when there is none of that name.
    ReportControl* control(const QString& name) const;
    const std::vector<std::unique_ptr<ReportBand>>& bands() const { return m_bands; }

    // Rows for the detail band (the report's data set); ignored when OnNeedData is set.
    void setDataRows(const QList<QSqlRecord>& rows) { m_rows = rows; }
    const QList<QSqlRecord>& dataRows() const { return m_rows; }

    // Before anything is printed; false prints nothing.
    std::function<bool()> BeforePrint;
    // Asked once before the first band and again after each detail band: is there a (further) line?
    std::function<bool()> OnNeedData;
    // Percentage reported by a run fed through OnNeedData.
    std::function<void(int percent)> OnProgress;
    void SetProgress(int percent);

    // Lets an event handler end the run with an error (the run then reports it to its caller).
    void raiseError(const QString& message);

    // The date that system data prints; the clock's today when not set.
    void setPrintDate(const QDate& date) { m_printDate = date; }
    QDate printDate() const;

    // Title of a print job or base name of a file that the report becomes.
    void setDocumentName(const QString& name) { m_documentName = name; }
    QString documentName() const { return m_documentName.isEmpty() ? m_name : m_documentName; }

    // Lays the report out into the sink. False with the error of an event handler or of the sink.
    bool run(ReportSink& sink, QString* error);
    // Lays the report out and hands its pages to the filter (the PDF export sequence).
    bool ExportToFilter(PdfExportFilter& filter, QString* error);
    // Pages of the last run.
    int pageCount() const { return m_pageCount; }

private:
    friend class ReportRun;
    QString controlText(const ReportControl& control, int pageNumber) const;
    bool needsPageTotal() const;

    QString m_name;
    QPageLayout::Orientation m_orientation = QPageLayout::Portrait;
    QMarginsF m_margins{12.7, 12.7, 12.7, 12.7};
    std::vector<std::unique_ptr<ReportBand>> m_bands;
    QList<QSqlRecord> m_rows;
    const QSqlRecord* m_currentRow = nullptr;
    QString m_error;
    QDate m_printDate;
    QString m_documentName;
    int m_pageCount = 0;
    int m_pageTotal = 0;
};

// "dd/mm/yyyy" of an ISO date text; any other text as it stands.
QString ReportDateText(const QString& isoText);

} // namespace velmar
