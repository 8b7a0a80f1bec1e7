#pragma once

#include "db/dialect.h"
#include "documents/paymentssummaryreport.h"
#include "report/report.h"

#include <QSqlDatabase>
#include <QStringList>

#include <array>
#include <vector>

namespace velmar {

struct AppSettings;
struct AppState;

// The pension summary: one line per doctor with fees and contributions, doctors grouped by host PCT
// with a subtotal line closing each group, and a line of grand totals. A4 landscape.
class PensionSummaryReport
{
public:
    PensionSummaryReport(const AppSettings& settings, const AppState& state, const QSqlDatabase& db);

    Report& report() { return m_report; }
    ReportControl& operator[](const QString& name) const;

    QString ReportDataSet;
    bool RestartReport = false;

    // Running sums in the order of the columns that show them.
    enum Sum { Fees, Adjustments, NetFees, Superannuable, Annuity, Extra, NetPayment, Employer, SumCount };
    using Sums = std::array<double, SumCount>;
    Sums totals() const { return m_grand; }

    // Band heights of a doctor line alone and of one closing his group (90 and 23 units at 160 %).
    static constexpr double kLineHeight = 23 / 160.0 * 25.4;
    static constexpr double kGroupEndHeight = 90 / 160.0 * 25.4;

private:
    bool QuickRep1BeforePrint();
    bool QuickRep1NeedData();

    const AppSettings& m_settings;
    const AppState& m_state;
    QSqlDatabase m_db;
    Report m_report;
    ReportBand* m_detail = nullptr;
    std::array<ReportControl*, SumCount + 2> m_line{};     // name, the sums, total
    std::array<ReportControl*, SumCount + 2> m_subtotal{}; // the same for the group line
    std::vector<SummaryRecord> m_rows;
    size_t m_next = 0;
    Sums m_grand{};
    Sums m_sub{};
};

} // namespace velmar
