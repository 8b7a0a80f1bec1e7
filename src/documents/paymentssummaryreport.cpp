#include "documents/paymentssummaryreport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/nameorder.h"
#include "db/reading.h"
#include "history/history.h"
#include "payments/payments.h"

#include <QSqlRecord>

namespace velmar {

QString SummaryDisplayName(const QString& sname, const QString& fname)
{
    return sname + QStringLiteral(", ") + fname.left(1);
}

void AddSummaryHeading(Report& report, const QString& pageHeaderBand, const QString& titleBand)
{
    const QRectF across(0, 0, report.bandWidth(), 0);
    ReportBand& pageHeader = report.addBand(BandKind::PageHeader, pageHeaderBand, 10.0);
    pageHeader.addLabel(QStringLiteral("QRLabel7"), QString(), across, arial(20, true), Qt::AlignHCenter).fit =
        TextFit::Text;
    ReportBand& title = report.addBand(BandKind::Title, titleBand, 14.0);
    title.addLabel(QStringLiteral("QRCName"), QString(), across, arial(16, true), Qt::AlignHCenter).fit = TextFit::Text;
    title.addLabel(QStringLiteral("QRAddress"), QString(), across.translated(0, 7.0), arial(12, true), Qt::AlignHCenter)
        .fit = TextFit::Text;
}

void FillSummaryHeading(Report& report, const AppSettings& settings, const AppState& state)
{
    report.control(QStringLiteral("QRLabel7"))->caption =
        QStringLiteral("Payment's Summary for ") + state.CurrentDataSetLabel;
    report.control(QStringLiteral("QRCName"))->caption = settings.Name;
    report.control(QStringLiteral("QRAddress"))->caption = settings.Address;
}

QString HistoryAnchorText(qint64 entries, const QString& lastHash)
{
    return QStringLiteral("History: %1 entries, last %2")
        .arg(entries)
        .arg(lastHash.isEmpty() ? QStringLiteral("none") : lastHash.left(12));
}

QRectF SummaryColumns::next(double right)
{
    // Amounts keep this far from the column before them.
    constexpr double gap = 2.0;
    const QRectF room =
        right > 0 ? QRectF(m_previousRight + gap, 0, right - m_previousRight - gap, 0) : QRectF(0, 0, m_nameRight, 0);
    m_previousRight = room.right();
    return room;
}

ReportControl& SummaryColumns::addCell(ReportBand& band, const QString& name, const QRectF& room, double y,
                                       const ReportFont& font, int column, const QString& rowKind)
{
    const bool amount = room.left() > 0;
    ReportControl& cell =
        band.addLabel(name, QString(), room.translated(0, y), font, amount ? Qt::AlignRight : Qt::AlignLeft);
    cell.fit = amount ? TextFit::Number : TextFit::Text;
    cell.column = column;
    cell.rowKind = rowKind;
    return cell;
}

bool ReadSummaryRecords(const QSqlDatabase& db, const QString& dataSet, bool byPct, std::vector<SummaryRecord>* records,
                        QString* failure)
{
    // The doctors sorted, and each one's records found by id: sorting every record by its doctor's
    // name cost most of a summary. Headers.rowid keeps equal names in the order they were stored.
    // Both reads as one moment left them: another clerk's overwrite between them would give the old
    // doctors the new records.
    const ReadSnapshot snapshot(db);
    if (!snapshot.isActive()) {
        *failure = snapshot.trouble();
        return false;
    }
    const Dialect dialect = DialectOf(db);
    const QString doctorsStatement =
        QStringLiteral("SELECT pct, id, sname, fname, nosolo, annuity FROM Headers WHERE DataSet = '%1' ORDER BY %2%3, "
                       "%4, rowid")
            .arg(QuoteForSql(dataSet), byPct ? QStringLiteral("pct, ") : QString(),
                 OrderByName(QStringLiteral("sname"), dialect), OrderByName(QStringLiteral("fname"), dialect));
    ReadQuery doctors(db, doctorsStatement);
    struct Doctor
    {
        QString pct, id, sname, fname;
        bool noPension;
        double annuity;
    };
    std::vector<Doctor> listed;
    if (!doctors.forEachRow([&](const QSqlQuery& q) {
            // A doctor without an id has no records, not those whose id is empty.
            if (q.isNull(1))
                return;
            listed.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                              q.value(3).toString(), q.value(4).toString() == u"Y", q.value(5).toDouble()});
        })) {
        *failure = doctors.failure();
        return false;
    }
    // 60.0 keeps part-hours of the adjustment.
    const QString adjustment = QStringLiteral("Extra*AdjustmentTime*AdjustmentRate/60.0");
    QHash<QString, std::vector<double>> numbers;
    QString trouble, statement;
    if (!ReadRecordNumbers(db, dataSet,
                           {QStringLiteral("Total"), adjustment, QStringLiteral("(Total+%1)").arg(adjustment),
                            QStringLiteral("superfee")},
                           &numbers, &trouble, &statement)) {
        *failure = ReadFailure(trouble, statement);
        return false;
    }
    records->clear();
    for (const Doctor& d : listed) {
        const auto found = numbers.constFind(d.id);
        if (found == numbers.constEnd())
            continue;
        const std::vector<double>& v = *found;
        for (size_t i = 0; i + 3 < v.size(); i += 4)
            records->push_back(
                {d.pct, d.id, d.sname, d.fname, d.noPension, d.annuity, v[i], v[i + 3], v[i + 1], v[i + 2]});
    }
    return true;
}

PaymentsSummaryReport::PaymentsSummaryReport(const AppSettings& settings, const AppState& state, const QSqlDatabase& db)
    : m_settings(settings), m_state(state), m_db(db), m_report(QStringLiteral("TSummary"))
{
    m_report.setPage(QPageLayout::Portrait, QMarginsF(12.7, 12.7, 12.7, 12.7));
    const auto rightAt = [](double right, double y) { return QRectF(0, y, right, 0); };

    AddSummaryHeading(m_report, QStringLiteral("QRBand6"), QStringLiteral("QRBand1"));

    struct Column
    {
        const char* heading;
        const char* headingText;
        double left;
        const char* detail;
        const char* total;
        double right; // amounts; 0 for the name
    };
    const Column columns[] = {
        {"QRLabel1", "Name", 0, "QRName", "QRTName", 0},
        {"QRLabel2", "Fees", 42.7, "QRFees", "QRTFees", 52.3},
        {"QRLabel3", "Adjustments", 65.0, "QRAdjustments", "QRTAdjustments", 88.1},
        {"QRLabel4", "Net Fees", 101.6, "QRNetFees", "QRTNetFees", 118.6},
        {"QRLabel5", "Annuity", 134.1, "QRAnnuity", "QRTAnnuity", 147.6},
        {"QRLabel6", "Net Payment", 162.6, "QRNetPayment", "QRTNetPayment", 184.9},
    };
    ReportBand& heading = m_report.addBand(BandKind::ColumnHeader, QStringLiteral("QRBand2"), 6.0);
    ReportBand& detail = m_report.addBand(BandKind::Detail, QStringLiteral("QRBand3"), 5.0);
    ReportBand& summary = m_report.addBand(BandKind::Summary, QStringLiteral("QRBand4"), 10.0);
    // The name stops where amounts of six figures begin.
    SummaryColumns rooms(36.0);
    int column = 0;
    for (const Column& c : columns) {
        ReportControl& title = heading.addLabel(QString::fromUtf8(c.heading), QString::fromUtf8(c.headingText), c.left,
                                                0, arial(10, true, true));
        title.column = column;
        // The annuity heading prints nothing without superannuation; the column keeps its name.
        title.columnName = title.caption;
        const QRectF room = rooms.next(c.right);
        SummaryColumns::addCell(detail, QString::fromUtf8(c.detail), room, 0.5, arial(10), column,
                                QStringLiteral("doctor"));
        SummaryColumns::addCell(summary, QString::fromUtf8(c.total), room, 2.5, arial(10, true), column,
                                QStringLiteral("total"));
        ++column;
    }

    ReportBand& footer = m_report.addBand(BandKind::PageFooter, QStringLiteral("QRBand5"), 6.0);
    footer
        .addSystemData(QStringLiteral("QRSysData2"), SystemDataKind::Date, QRectF(0, 1.0, 0, 0), arial(10),
                       Qt::AlignLeft)
        .OnPrint = [](QString& text) { text = QStringLiteral("Printed: ") + text; };
    footer.addSystemData(QStringLiteral("QRSysData1"), SystemDataKind::PageNumber, rightAt(183.9, 1.0), arial(10),
                         Qt::AlignRight);
    // Every printed summary anchors the history on paper: a later change of it shows.
    footer.addLabel(QStringLiteral("QRHistory"), QString(), QRectF(50.0, 1.0, 84.0, 0), arial(8), Qt::AlignHCenter)
        .fit = TextFit::Text;

    const auto total = [this](const char* name, std::function<double(const Totals&)> value) {
        (*this)[QString::fromUtf8(name)].OnPrint = [this, value](QString& text) {
            text = FormatMoney(value(m_totals));
        };
    };
    (*this)[QStringLiteral("QRTName")].OnPrint = [](QString& text) { text = QStringLiteral("Total"); };
    total("QRTFees", [](const Totals& t) { return t.fees; });
    total("QRTAdjustments", [](const Totals& t) { return t.adjustments; });
    total("QRTNetFees", [](const Totals& t) { return t.netFees; });
    total("QRTNetPayment", [](const Totals& t) { return t.netPayment; });
    (*this)[QStringLiteral("QRTAnnuity")].OnPrint = [this](QString& text) {
        text = m_settings.NoSuperannuation ? QString() : FormatMoney(m_totals.annuity);
    };

    m_report.BeforePrint = [this] { return QuickRep1BeforePrint(); };
    m_report.OnNeedData = [this] { return QuickRep1NeedData(); };
}

ReportControl& PaymentsSummaryReport::operator[](const QString& name) const
{
    ReportControl* c = m_report.control(name);
    Q_ASSERT_X(c, "PaymentsSummaryReport", "no such control");
    return *c;
}

bool PaymentsSummaryReport::QuickRep1BeforePrint()
{
    // Every preview or print is a run of its own.
    RestartReport = true;
    return true;
}

bool PaymentsSummaryReport::QuickRep1NeedData()
{
    if (RestartReport) {
        m_totals = Totals();
        m_rows.clear();
        m_next = 0;
        QString failure;
        if (!ReadSummaryRecords(m_db, ReportDataSet, false, &m_rows, &failure)) {
            m_rows.clear();
            m_report.raiseError(failure);
            return false;
        }
        FillSummaryHeading(m_report, m_settings, m_state);
        qint64 entries = 0;
        QString last, trouble;
        if (!history::Head(m_db, &entries, &last, &trouble)) {
            m_report.raiseError(trouble);
            return false;
        }
        (*this)[QStringLiteral("QRHistory")].caption = HistoryAnchorText(entries, last);
        RestartReport = false;
    }
    if (m_next >= m_rows.size())
        return false;

    const SummaryRecord& first = m_rows[m_next];
    const QString doctorId = first.id;
    const QString name = SummaryDisplayName(first.sname, first.fname);
    double annuityRate = 0, fees = 0, adjustments = 0, netFees = 0;
    while (m_next < m_rows.size() && m_rows[m_next].id == doctorId) {
        const SummaryRecord& row = m_rows[m_next];
        annuityRate = row.annuity;
        fees += row.total;
        adjustments += row.adjustment;
        netFees += row.adjTotal;
        ++m_next;
    }
    m_report.SetProgress(int(m_next * 100 / m_rows.size()));

    const double annuity = m_settings.NoSuperannuation ? 0 : annuityRate * netFees * 0.01;
    const double netPayment = netFees - annuity;
    m_totals.fees += fees;
    m_totals.adjustments += adjustments;
    m_totals.netFees += netFees;
    m_totals.annuity += annuity;
    m_totals.netPayment += netPayment;

    (*this)[QStringLiteral("QRName")].caption = name;
    (*this)[QStringLiteral("QRFees")].caption = FormatMoney(fees);
    (*this)[QStringLiteral("QRAdjustments")].caption = FormatMoney(adjustments);
    (*this)[QStringLiteral("QRNetFees")].caption = FormatMoney(netFees);
    if (m_settings.NoSuperannuation) {
        (*this)[QStringLiteral("QRAnnuity")].caption.clear();
        (*this)[QStringLiteral("QRLabel5")].caption.clear();
    } else {
        (*this)[QStringLiteral("QRAnnuity")].caption = FormatMoney(annuity);
    }
    (*this)[QStringLiteral("QRNetPayment")].caption = FormatMoney(netPayment);
    return true;
}

} // namespace velmar
