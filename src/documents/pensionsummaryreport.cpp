#include "documents/pensionsummaryreport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/nameorder.h"
#include "db/reading.h"
#include "documents/paymentssummaryreport.h"
#include "payments/payments.h"

#include <QSqlRecord>

namespace velmar {

namespace {

constexpr double kSubtotalOffset = 7.5;

} // namespace

PensionSummaryReport::PensionSummaryReport(const AppSettings& settings, const AppState& state, const QSqlDatabase& db)
    : m_settings(settings), m_state(state), m_db(db), m_report(QStringLiteral("TSoloSummary"))
{
    m_report.setPage(QPageLayout::Landscape, QMarginsF(12.7, 12.7, 12.7, 12.7));
    const auto rightAt = [](double right, double y) { return QRectF(0, y, right, 0); };

    AddSummaryHeading(m_report, QStringLiteral("QRBand1"), QStringLiteral("QRBand2"));

    struct Column
    {
        const char* upper;
        const char* lower;
        const char* suffix; // QR<suffix>, PQR<suffix>, QRT<suffix>
        double right;       // 0 for the name, left-aligned at 0
    };
    const Column columns[] = {
        {nullptr, "Name", "Name", 0},
        {nullptr, "Fees", "Fees", 59.4},
        {nullptr, "Adjustments", "Adjustments", 88.4},
        {nullptr, "Net Fees", "NetFees", 111.4},
        {"Superannuable", "Fees", "Superannuable", 136.8},
        {nullptr, "Annuity", "Annuity", 163.5},
        {"Extra", "Annuity", "Extra", 181.6},
        {nullptr, "Net Payment", "NetPayment", 212.1},
        {"Employer", "Contribution", "Employer", 239.9},
        {nullptr, "Total", "Total", 270.4},
    };
    ReportBand& heading = m_report.addBand(BandKind::ColumnHeader, QStringLiteral("QRBand3"), 10.0);
    m_detail = &m_report.addBand(BandKind::Detail, QStringLiteral("QRBand4"), kLineHeight);
    ReportBand& summary = m_report.addBand(BandKind::Summary, QStringLiteral("QRBand5"), 10.0);
    // The name (or the host PCT of a subtotal) stops where fees of six figures begin.
    SummaryColumns rooms(43.0);
    int column = 0;
    int headingLabel = 0;
    // The columns follow the sums: the name, the eight sums, the total.
    for (const Column& c : columns) {
        const Qt::Alignment alignment = c.right > 0 ? Qt::AlignRight : Qt::AlignLeft;
        const QRectF at = c.right > 0 ? rightAt(c.right, 0) : QRectF();
        if (c.upper) {
            heading
                .addLabel(QStringLiteral("QRLabel%1").arg(++headingLabel), QString::fromUtf8(c.upper), at,
                          arial(10, true), alignment)
                .column = column;
        }
        heading
            .addLabel(QStringLiteral("QRLabel%1").arg(++headingLabel), QString::fromUtf8(c.lower),
                      at.translated(0, 4.5), arial(10, true, true), alignment)
            .column = column;
        const QString suffix = QString::fromUtf8(c.suffix);
        const QRectF room = rooms.next(c.right);
        m_line[column] = &SummaryColumns::addCell(*m_detail, QStringLiteral("QR") + suffix, room, 0, arial(10), column,
                                                  QStringLiteral("doctor"));
        m_subtotal[column] = &SummaryColumns::addCell(*m_detail, QStringLiteral("PQR") + suffix, room, kSubtotalOffset,
                                                      arial(10, true), column, QStringLiteral("subtotal"));
        SummaryColumns::addCell(summary, QStringLiteral("QRT") + suffix, room, 2.5, arial(10, true), column,
                                QStringLiteral("total"));
        ++column;
    }

    ReportBand& footer = m_report.addBand(BandKind::PageFooter, QStringLiteral("QRBand6"), 6.0);
    footer.addSystemData(QStringLiteral("QRSysData2"), SystemDataKind::Date, QRectF(0, 1.0, 0, 0), arial(10),
                         Qt::AlignLeft);
    footer.addSystemData(QStringLiteral("QRSysData1"), SystemDataKind::PageNumber, rightAt(269.2, 1.0), arial(10),
                         Qt::AlignRight);

    (*this)[QStringLiteral("QRTName")].OnPrint = [](QString& text) { text = QStringLiteral("Total"); };
    const std::pair<const char*, Sum> totals[] = {
        {"QRTFees", Fees},
        {"QRTAdjustments", Adjustments},
        {"QRTNetFees", NetFees},
        {"QRTSuperannuable", Superannuable},
        {"QRTExtra", Extra},
        {"QRTEmployer", Employer},
        {"QRTNetPayment", NetPayment},
    };
    for (const auto& [name, sum] : totals) {
        const Sum s = sum;
        (*this)[QString::fromUtf8(name)].OnPrint = [this, s](QString& text) { text = FormatMoney(m_grand[s]); };
    }
    (*this)[QStringLiteral("QRTAnnuity")].OnPrint = [this](QString& text) {
        text = m_settings.NoSuperannuation ? QString() : FormatMoney(m_grand[Annuity]);
    };
    (*this)[QStringLiteral("QRTTotal")].OnPrint = [this](QString& text) {
        text = FormatMoney(m_grand[Employer] + m_grand[Annuity] + m_grand[Extra]);
    };

    m_report.BeforePrint = [this] { return QuickRep1BeforePrint(); };
    m_report.OnNeedData = [this] { return QuickRep1NeedData(); };
}

ReportControl& PensionSummaryReport::operator[](const QString& name) const
{
    ReportControl* c = m_report.control(name);
    Q_ASSERT_X(c, "PensionSummaryReport", "no such control");
    return *c;
}

bool PensionSummaryReport::QuickRep1BeforePrint()
{
    RestartReport = true;
    return true;
}

bool PensionSummaryReport::QuickRep1NeedData()
{
    if (RestartReport) {
        m_grand.fill(0);
        m_sub.fill(0);
        m_rows.clear();
        m_next = 0;
        QString failure;
        if (!ReadSummaryRecords(m_db, ReportDataSet, true, &m_rows, &failure)) {
            m_rows.clear();
            m_report.raiseError(failure);
            return false;
        }
        FillSummaryHeading(m_report, m_settings, m_state);
        RestartReport = false;
    }
    if (m_next >= m_rows.size())
        return false;

    const SummaryRecord& first = m_rows[m_next];
    const QString pct = first.pct;
    const QString doctorId = first.id;
    const QString name = SummaryDisplayName(first.sname, first.fname);
    bool noPension = false;
    double annuityRate = 0;
    Sums line{};
    while (m_next < m_rows.size() && m_rows[m_next].id == doctorId) {
        const SummaryRecord& row = m_rows[m_next];
        noPension = row.noPension;
        annuityRate = row.annuity;
        line[Fees] += row.total;
        line[Superannuable] += row.superfee;
        line[Adjustments] += row.adjustment;
        line[NetFees] += row.adjTotal;
        ++m_next;
    }
    m_report.SetProgress(int(m_next * 100 / m_rows.size()));

    if (noPension) {
        line[NetPayment] = line[NetFees];
    } else {
        const double base = m_settings.PartSuperannuation ? line[Superannuable] : line[NetFees];
        line[Annuity] = m_settings.NoSuperannuation ? 0 : m_settings.Superannuation * base * 0.01;
        line[Extra] = RoundMoney(annuityRate * base * 0.01);
        line[Employer] = RoundMoney(m_settings.Employerannuation * base * 0.01);
        line[NetPayment] = RoundMoney(line[NetFees] - line[Annuity] - line[Extra]);
    }
    for (int i = 0; i < SumCount; ++i) {
        m_grand[i] += line[i];
        m_sub[i] += line[i];
    }

    m_line[0]->caption = name;
    for (int i = 0; i < SumCount; ++i)
        m_line[i + 1]->caption = FormatMoney(line[i]);
    m_line[SumCount + 1]->caption = FormatMoney(line[Annuity] + line[Extra] + line[Employer]);

    if (m_next >= m_rows.size() || m_rows[m_next].pct != pct) {
        m_subtotal[0]->caption = pct;
        for (int i = 0; i < SumCount; ++i)
            m_subtotal[i + 1]->caption = FormatMoney(m_sub[i]);
        m_subtotal[SumCount + 1]->caption = FormatMoney(m_sub[Annuity] + m_sub[Extra] + m_sub[Employer]);
        m_sub.fill(0);
        m_detail->height = kGroupEndHeight;
    } else {
        for (ReportControl* c : m_subtotal)
            c->caption.clear();
        m_detail->height = kLineHeight;
    }
    return true;
}

} // namespace velmar
