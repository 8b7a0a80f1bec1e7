#include "report/reporttableexport.h"

#include "core/savefile.h"
#include "report/report.h"
#include "report/reportsink.h"

#include <algorithm>
#include <map>

namespace velmar {

namespace {

class TableSink : public ReportSink
{
public:
    explicit TableSink(ReportTable& table) : m_table(table) {}

    bool beginPage(int) override { return true; }

    void printBand(const ReportBand& band, double, const QList<PrintedControl>& controls) override
    {
        if (band.kind == BandKind::ColumnHeader) {
            if (m_headingDone)
                return;
            m_headingDone = true;
            for (const auto& [top, cells] : lines(controls)) {
                for (int i = 0; i < int(cells.size()); ++i) {
                    if (cells[i].isEmpty())
                        continue;
                    while (m_table.headings.size() <= i)
                        m_table.headings.append(QString());
                    QString& h = m_table.headings[i];
                    h = h.isEmpty() ? cells[i] : h + u' ' + cells[i];
                }
            }
            return;
        }
        if (band.kind != BandKind::Detail && band.kind != BandKind::Summary)
            return;
        for (const auto& [top, cells] : lines(controls)) {
            if (std::any_of(cells.begin(), cells.end(), [](const QString& s) { return !s.isEmpty(); }))
                m_table.rows.append(QStringList(cells.begin(), cells.end()));
        }
    }

private:
    // Cells of the controls with a column, grouped by line (their top, to a tenth of a millimetre).
    static std::map<int, std::vector<QString>> lines(const QList<PrintedControl>& controls)
    {
        std::map<int, std::vector<QString>> result;
        for (const PrintedControl& p : controls) {
            const int column = p.control->column;
            if (column < 0)
                continue;
            std::vector<QString>& cells = result[qRound(p.control->rect.top() * 10)];
            if (int(cells.size()) <= column)
                cells.resize(column + 1);
            cells[column] = p.text;
        }
        return result;
    }

    ReportTable& m_table;
    bool m_headingDone = false;
};

QString csvField(const QString& text)
{
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = text.startsWith(u' ') || text.endsWith(u' ');
    for (const QChar c : text)
        quote = quote || special.contains(c);
    if (!quote)
        return text;
    QString escaped = text;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

QString csvLine(const QStringList& cells, int width)
{
    QStringList fields;
    for (int i = 0; i < width; ++i)
        fields.append(csvField(i < cells.size() ? cells.at(i) : QString()));
    return fields.join(u',') + QStringLiteral("\r\n");
}

} // namespace

bool HasTableExport(const Report& report)
{
    for (const auto& b : report.bands()) {
        for (const auto& c : b->controls()) {
            if (c->column >= 0)
                return true;
        }
    }
    return false;
}

bool CollectReportTable(Report& report, ReportTable* table, QString* error)
{
    *table = ReportTable();
    TableSink sink(*table);
    return report.run(sink, error);
}

QString ReportTableCsv(const ReportTable& table)
{
    int width = table.headings.size();
    for (const QStringList& row : table.rows)
        width = std::max(width, int(row.size()));
    QString text = csvLine(table.headings, width);
    for (const QStringList& row : table.rows)
        text += csvLine(row, width);
    return text;
}

bool WriteReportCsv(Report& report, const QString& path, QString* error)
{
    ReportTable table;
    if (!CollectReportTable(report, &table, error))
        return false;
    CheckedSaveFile file(path);
    if (!file.open(error))
        return false;
    file.write(ReportTableCsv(table).toUtf8());
    return file.commit(error);
}

} // namespace velmar
