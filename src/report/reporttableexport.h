#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace velmar {

class Report;

// The report's lines as a table, for a spreadsheet: the column headings, then one row per printed
// line of the detail and summary bands that holds text in some column. Controls take part through
// their column number; a band's controls on the same line (same top) form one row, and the lines
// of a two-row heading are joined with a space. A row's kind comes from its controls' rowKind.
struct ReportTable
{
    QStringList headings;
    QList<QStringList> rows;
    QStringList kinds; // one per row, empty when the controls name none
};

bool HasTableExport(const Report& report);
bool CollectReportTable(Report& report, ReportTable* table, QString* error);
// RFC 4180 text (comma-separated, CR LF, quotes where needed). When rows have kinds, the first
// column "Kind" gives them; a column without a heading is named "Column N".
QString ReportTableCsv(const ReportTable& table);
// Runs the report and writes its table, UTF-8 with a byte-order mark; replaces the file only when complete.
bool WriteReportCsv(Report& report, const QString& path, QString* error);

} // namespace velmar
