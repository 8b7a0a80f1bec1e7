#include "report/report.h"

#include "core/clock.h"
#include "report/pdfexportfilter.h"
#include "report/reportsink.h"

#include <QPageSize>

namespace velmar {

Report::Report(const QString& name) : m_name(name) {}

void Report::setPage(QPageLayout::Orientation orientation, const QMarginsF& margins)
{
    m_orientation = orientation;
    m_margins = margins;
}

QPageLayout Report::pageLayout() const
{
    return QPageLayout(QPageSize(QPageSize::A4), m_orientation, m_margins, QPageLayout::Millimeter);
}

double Report::bandWidth() const
{
    return pageLayout().paintRect(QPageLayout::Millimeter).width();
}

double Report::pageBodyHeight() const
{
    return pageLayout().paintRect(QPageLayout::Millimeter).height();
}

ReportBand& Report::addBand(BandKind kind, const QString& name, double height)
{
    m_bands.push_back(std::make_unique<ReportBand>(kind, name, height));
    return *m_bands.back();
}

ReportBand* Report::band(const QString& name) const
{
    for (const auto& b : m_bands) {
        if (b->name == name)
            return b.get();
    }
    return nullptr;
}

ReportControl* Report::control(const QString& name) const
{
    for (const auto& b : m_bands) {
        if (ReportControl* c = b->control(name))
            return c;
    }
    return nullptr;
}

void Report::SetProgress(int percent)
{
    if (OnProgress)
        OnProgress(percent);
}

void Report::raiseError(const QString& message)
{
    if (m_error.isEmpty())
        m_error = message;
}

QDate Report::printDate() const
{
    return m_printDate.isValid() ? m_printDate : Clock::today();
}

QString ReportDateText(const QString& isoText)
{
    const QDate date = QDate::fromString(isoText.trimmed().left(10), Qt::ISODate);
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : isoText;
}

QString Report::controlText(const ReportControl& control, int pageNumber) const
{
    QString text;
    switch (control.kind) {
    case ControlKind::Label:
        text = control.caption;
        break;
    case ControlKind::DataText:
        if (m_currentRow) {
            text = m_currentRow->value(control.field).toString();
            if (control.isDate)
                text = ReportDateText(text);
        }
        break;
    case ControlKind::SystemData:
        switch (control.systemData) {
        case SystemDataKind::Date:
            text = control.caption + printDate().toString(QStringLiteral("dd/MM/yyyy"));
            break;
        case SystemDataKind::PageNumber:
            text = control.caption + QString::number(pageNumber);
            break;
        case SystemDataKind::PageOfPages:
            text = control.caption + QStringLiteral("page %1 of %2").arg(pageNumber).arg(m_pageTotal);
            break;
        }
        break;
    case ControlKind::HorizontalRule:
    case ControlKind::Rectangle:
        return text;
    }
    if (control.OnPrint)
        control.OnPrint(text);
    return text;
}

// One run of a report: pagination and the order of bands and events.
class ReportRun
{
public:
    // Without a sink the run only counts its pages: no text is made, nothing is printed.
    ReportRun(Report& report, ReportSink* sink) : m_report(report), m_sink(sink)
    {
        for (const auto& b : report.m_bands) {
            if (b->kind == BandKind::PageFooter)
                m_footerHeight += b->height;
        }
        m_bodyBottom = report.pageBodyHeight() - m_footerHeight;
    }

    bool run()
    {
        Report& r = m_report;
        if (r.BeforePrint && !r.BeforePrint())
            return !failed();
        if (failed())
            return false;

        const bool fed = bool(r.OnNeedData);
        int row = 0;
        bool more = fed ? r.OnNeedData() : !r.m_rows.isEmpty();
        if (failed())
            return false;

        if (!startPage())
            return false;
        if (!printAll(BandKind::Title))
            return false;
        if (!printAll(BandKind::ColumnHeader))
            return false;

        while (more) {
            r.m_currentRow = fed ? nullptr : &r.m_rows.at(row);
            if (!printAll(BandKind::Detail))
                return false;
            if (fed) {
                more = r.OnNeedData();
                if (failed())
                    return false;
            } else {
                more = ++row < r.m_rows.size();
            }
        }
        r.m_currentRow = nullptr;
        if (!printAll(BandKind::Summary))
            return false;
        finishPage();
        return !failed();
    }

private:
    bool failed() const { return !m_report.m_error.isEmpty(); }

    bool startPage()
    {
        ++m_page;
        m_report.m_pageCount = m_page;
        if (m_sink && !m_sink->beginPage(m_page)) {
            m_report.raiseError(m_sink->error());
            return false;
        }
        m_y = 0;
        for (const auto& b : m_report.m_bands) {
            if (b->kind == BandKind::PageHeader)
                print(*b);
        }
        if (m_page > 1) {
            for (const auto& b : m_report.m_bands) {
                if (b->kind == BandKind::ColumnHeader)
                    print(*b);
            }
        }
        m_pageTop = m_y;
        return !failed();
    }

    void finishPage()
    {
        double y = m_bodyBottom;
        for (const auto& b : m_report.m_bands) {
            if (b->kind == BandKind::PageFooter) {
                printAt(*b, y);
                y += b->height;
            }
        }
    }

    bool printAll(BandKind kind)
    {
        for (const auto& b : m_report.m_bands) {
            if (b->kind != kind)
                continue;
            // Column headers of later pages come with the page.
            if (kind == BandKind::ColumnHeader && m_page > 1)
                continue;
            const bool pageHasContent = m_y > m_pageTop;
            if (pageHasContent && (b->forceNewPage || m_y + b->height > m_bodyBottom)) {
                finishPage();
                if (!startPage())
                    return false;
            }
            print(*b);
            if (failed())
                return false;
        }
        return true;
    }

    void print(const ReportBand& band)
    {
        printAt(band, m_y);
        m_y += band.height;
    }

    void printAt(const ReportBand& band, double top)
    {
        if (!m_sink)
            return;
        QList<PrintedControl> printed;
        printed.reserve(int(band.controls().size()));
        for (const auto& c : band.controls()) {
            if (c->enabled)
                printed.append(PrintedControl{c.get(), m_report.controlText(*c, m_page)});
        }
        m_sink->printBand(band, top, printed);
    }

    Report& m_report;
    ReportSink* m_sink;
    double m_footerHeight = 0;
    double m_bodyBottom = 0;
    double m_y = 0;
    double m_pageTop = 0;
    int m_page = 0;
};

bool Report::needsPageTotal() const
{
    for (const auto& b : m_bands) {
        for (const auto& c : b->controls()) {
            if (c->enabled && c->kind == ControlKind::SystemData && c->systemData == SystemDataKind::PageOfPages)
                return true;
        }
    }
    return false;
}

bool Report::run(ReportSink& sink, QString* error)
{
    m_pageTotal = 0;
    bool ok = true;
    if (needsPageTotal()) {
        // Pages break on the bands' heights, never on their texts, so the counting run makes none.
        m_error.clear();
        ok = ReportRun(*this, nullptr).run();
        m_pageTotal = m_pageCount;
    }
    if (ok) {
        m_error.clear();
        m_pageCount = 0;
        ok = ReportRun(*this, &sink).run();
    }
    m_currentRow = nullptr;
    if (!ok && error)
        *error = m_error;
    return ok;
}

bool Report::ExportToFilter(PdfExportFilter& filter, QString* error)
{
    return filter.exportReport(*this, error);
}

} // namespace velmar
