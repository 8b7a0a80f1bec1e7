#pragma once

#include "db/dialect.h"
#include "report/report.h"

#include <QSqlDatabase>
#include <QStringList>

#include <vector>

namespace velmar {

struct AppSettings;
struct AppState;

// A record of a summary with its doctor's columns.
struct SummaryRecord
{
    QString pct, id, sname, fname;
    bool noPension;
    double annuity, total, superfee, adjustment, adjTotal;
};

// The payments summary: one line per doctor of a data set (fees, adjustments, net fees, annuity,
// net payment) and a line of totals. A4 portrait. Fed line by line through OnNeedData.
class PaymentsSummaryReport
{
public:
    PaymentsSummaryReport(const AppSettings& settings, const AppState& state, const QSqlDatabase& db);

    Report& report() { return m_report; }
    ReportControl& operator[](const QString& name) const;

    // Set by the caller before each run.
    QString ReportDataSet;
    bool RestartReport = true;

    struct Totals
    {
        double fees = 0;
        double adjustments = 0;
        double netFees = 0;
        double annuity = 0;
        double netPayment = 0;
    };
    // Grand totals of the last run; they stay until the next run starts.
    Totals totals() const { return m_totals; }

private:
    bool QuickRep1BeforePrint();
    bool QuickRep1NeedData();

    const AppSettings& m_settings;
    const AppState& m_state;
    QSqlDatabase m_db;
    Report m_report;
    std::vector<SummaryRecord> m_rows;
    size_t m_next = 0;
    Totals m_totals;
};

// The footer's anchor of the history: "History: 12 entries, last 0123456789ab".
QString HistoryAnchorText(qint64 entries, const QString& lastHash);

// Display name of a summary line: "sname, F".
QString SummaryDisplayName(const QString& sname, const QString& fname);

// The heading both summaries print: the pay run on every page (QRLabel7), the service's name and
// address (QRCName, QRAddress) on the first; the bands are named as each report names them.
void AddSummaryHeading(Report& report, const QString& pageHeaderBand, const QString& titleBand);
// Its texts for a run.
void FillSummaryHeading(Report& report, const AppSettings& settings, const AppState& state);

// The columns of a summary's lines: the name left-aligned from 0 to nameRight, each amount
// right-aligned at its column's right edge in the room the column before it leaves. Within its
// room a long name shrinks and is then cut; an amount only shrinks.
class SummaryColumns
{
public:
    explicit SummaryColumns(double nameRight) : m_nameRight(nameRight) {}
    // The next column's room; right is 0 for the name. Columns are given left to right.
    QRectF next(double right);
    static ReportControl& addCell(ReportBand& band, const QString& name, const QRectF& room, double y,
                                  const ReportFont& font, int column, const QString& rowKind);

private:
    double m_nameRight;
    double m_previousRight = 0;
};

// Every record of a data set with its doctor, in the summary's order: doctors by name (by host PCT
// first when asked), equal names as stored, each doctor's records in recno order; a doctor without
// records has no line. False with *failure set when a read fails.
bool ReadSummaryRecords(const QSqlDatabase& db, const QString& dataSet, bool byPct, std::vector<SummaryRecord>* records,
                        QString* failure);

} // namespace velmar
