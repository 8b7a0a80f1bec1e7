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
            for (const auto& [top, line] : lines(controls, true)) {
                for (int i = 0; i < int(line.cells.size()); ++i) {
                    if (line.cells[i].isEmpty())
                        continue;
                    while (m_table.headings.size() <= i)
                        m_table.headings.append(QString());
                    QString& h = m_table.headings[i];
                    h = h.isEmpty() ? line.cells[i] : h + u' ' + line.cells[i];
                }
            }
            return;
        }
        if (band.kind != BandKind::Detail && band.kind != BandKind::Summary)
            return;
        for (const auto& [top, line] : lines(controls, false)) {
            if (std::any_of(line.cells.begin(), line.cells.end(), [](const QString& s) { return !s.isEmpty(); })) {
                m_table.rows.append(QStringList(line.cells.begin(), line.cells.end()));
                m_table.kinds.append(line.kind);
            }
        }
    }

private:
    struct Line
    {
        QString kind;
        std::vector<QString> cells;
    };

    // Cells of the controls with a column, grouped by line (their top, to a tenth of a millimetre).
    // A heading is its column's name where it has one, so a heading left blank still names it.
    static std::map<int, Line> lines(const QList<PrintedControl>& controls, bool heading)
    {
        std::map<int, Line> result;
        for (const PrintedControl& p : controls) {
            const ReportControl& c = *p.control;
            if (c.column < 0)
                continue;
            Line& line = result[qRound(c.rect.top() * 10)];
            if (int(line.cells.size()) <= c.column)
                line.cells.resize(c.column + 1);
            line.cells[c.column] = heading && !c.columnName.isEmpty() ? c.columnName : p.text;
            if (line.kind.isEmpty())
                line.kind = c.rowKind;
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
    // Every column is named: a spreadsheet's filters and sums go by the names.
    QStringList headings = table.headings;
    for (int i = 0; i < width; ++i) {
        if (i >= headings.size())
            headings.append(QString());
        if (headings[i].isEmpty())
            headings[i] = QStringLiteral("Column %1").arg(i + 1);
    }
    const bool kinds =
        std::any_of(table.kinds.begin(), table.kinds.end(), [](const QString& k) { return !k.isEmpty(); });
    const auto line = [&](const QString& kind, const QStringList& cells) {
        return csvLine(kinds ? QStringList{kind} + cells : cells, width + (kinds ? 1 : 0));
    };
    QString text = line(QStringLiteral("Kind"), headings);
    for (int i = 0; i < table.rows.size(); ++i)
        text += line(table.kinds.value(i), table.rows.at(i));
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
    // The byte-order mark tells spreadsheets the text is UTF-8 (they guess a code page otherwise).
    file.write(QByteArray("\xEF\xBB\xBF") + ReportTableCsv(table).toUtf8());
    return file.commit(error);
}

} // namespace velmar
