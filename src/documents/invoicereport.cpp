#include "documents/invoicereport.h"

#include "core/inifile.h"
#include "core/textformat.h"

namespace velmar {

namespace {

ReportFont times(double size)
{
    ReportFont f;
    f.family = QStringLiteral("Times New Roman");
    f.size = size;
    f.bold = true;
    return f;
}

} // namespace

InvoiceReport::InvoiceReport() : m_report(QStringLiteral("TfrmPrint"))
{
    m_report.setPage(QPageLayout::Portrait, QMarginsF(12.7, 12.7, 12.7, 12.7));
    const double width = m_report.bandWidth();
    const auto across = [width](double y) { return QRectF(0, y, width, 0); };
    const auto toRight = [](double right, double y) { return QRectF(0, y, right, 0); };

    // The recipient's lines stop short of the date at the right.
    const double recipientWidth = 140.0;
    ReportBand& title = m_report.addBand(BandKind::Title, QStringLiteral("QRBand1"), 72.5);
    title.addLabel(QStringLiteral("Header1"), QString(), across(0), times(22), Qt::AlignHCenter).fit = TextFit::Text;
    title.addLabel(QStringLiteral("Header2"), QString(), across(8.3), times(12), Qt::AlignHCenter).fit = TextFit::Text;
    title.addLabel(QStringLiteral("Header3"), QString(), across(14.8), times(11), Qt::AlignHCenter).fit = TextFit::Text;
    title.addLabel(QStringLiteral("QRLabel8"), QStringLiteral("To:"), 0, 21.1, arial(10));
    title
        .addLabel(QStringLiteral("lblName"), QString(), QRectF(10.6, 21.1, recipientWidth, 0), arial(10), Qt::AlignLeft)
        .fit = TextFit::Text;
    title
        .addLabel(QStringLiteral("lblAddress"), QString(), QRectF(10.6, 25.2, recipientWidth, 0), arial(10),
                  Qt::AlignLeft)
        .fit = TextFit::Text;
    title.addSystemData(QStringLiteral("QRSysData1"), SystemDataKind::Date, across(21.1), arial(10), Qt::AlignRight,
                        QStringLiteral("Date: "));
    title.addLabel(QStringLiteral("lblLabel"), QString(), across(61.1), arial(16, true, true), Qt::AlignHCenter).fit =
        TextFit::Text;

    ReportBand& heading = m_report.addBand(BandKind::ColumnHeader, QStringLiteral("QRBand2"), 4.1);
    const ReportFont headingFont = arial(9, true, true);
    heading.addLabel(QStringLiteral("QRLabel1"), QStringLiteral("Date"), 0, 0, headingFont);
    heading.addLabel(QStringLiteral("QRLabel2"), QStringLiteral("Location"), 17.5, 0, headingFont);
    heading.addLabel(QStringLiteral("QRLabel3"), QStringLiteral("Shift"), 36.0, 0, headingFont);
    heading.addLabel(QStringLiteral("QRLabel4"), QStringLiteral("Times"), 57.9, 0, headingFont);
    heading.addLabel(QStringLiteral("QRLabel5"), QStringLiteral("Rate"), 76.7, 0, headingFont);
    heading.addLabel(QStringLiteral("QRLabel6"), QStringLiteral("Fee"), QRectF(85.7, 0, 95.3 - 85.7, 0), headingFont,
                     Qt::AlignRight);
    heading.addLabel(QStringLiteral("QRLabel9"), QStringLiteral("Adjustments"), toRight(118.4, 0), headingFont,
                     Qt::AlignRight);
    heading.addLabel(QStringLiteral("QRLabel10"), QStringLiteral("Net Fee"), across(0), headingFont, Qt::AlignRight);

    ReportBand& detail = m_report.addBand(BandKind::Detail, QStringLiteral("QRBand3"), 8.3);
    const ReportFont rowFont = arial(8);
    struct Column
    {
        const char* name;
        const char* field;
        double x, w;
        Qt::Alignment alignment;
        void (*onPrint)(QString&);
    };
    const Column columns[] = {
        {"QRDBText3", "Shift_Date", 0, 17.4, Qt::AlignLeft, nullptr},
        {"QRDBText2", "Location", 17.7, 18.2, Qt::AlignLeft, nullptr},
        {"QRDBText1", "Shift", 36.2, 22.2, Qt::AlignLeft, nullptr},
        {"QRDBText4", "Times", 57.7, 16.5, Qt::AlignLeft, nullptr},
        {"QRDBText6", "Rate", 75.4, 8.9, Qt::AlignRight, &QRDBText6Print},
        {"QRDBText5", "Total", 84.2, 11.6, Qt::AlignRight, &QRDBText6Print},
        {"QRDBText8", "Adjustment", 96.6, 12.9, Qt::AlignRight, &QRDBText8Print},
        {"QRDBText7", "Notes", 111.1, 59.7, Qt::AlignLeft, nullptr},
        {"QRDBText9", "Net", 173.0, 11.6, Qt::AlignRight, &QRDBText6Print},
    };
    for (const Column& c : columns) {
        // The amounts are the ones with a print handler. They keep a millimetre clear of the column
        // at their left, which ends where they begin: two full columns would read as one number.
        const double lead = c.onPrint ? 1.0 : 0.0;
        ReportControl& text = detail.addDataText(QString::fromUtf8(c.name), QString::fromUtf8(c.field),
                                                 QRectF(c.x + lead, 2.0, c.w - lead, 4.0), rowFont, c.alignment);
        text.OnPrint = c.onPrint;
        text.fit = c.onPrint ? TextFit::Number : TextFit::Text;
    }
    detail.control(QStringLiteral("QRDBText3"))->isDate = true;

    ReportBand& total = m_report.addBand(BandKind::Summary, QStringLiteral("Total"), 36.0);
    ReportControl& paymentTo =
        total.addLabel(QStringLiteral("qrPaymentTo"), QString(), QRectF(0, 2.6, 63.7, 29.3), arial(10), Qt::AlignLeft);
    paymentTo.wordWrap = true;
    paymentTo.autoSize = false;
    struct Line
    {
        double y;
        const char* caption;
        const char* captionText;
        const char* amount;
    };
    const Line lines[] = {
        {2.4, "QRLabel12", "Total", "lblTotal"},
        {8.7, "QRLabel7", "Total Non-Superannuable", "lblNonSuperannuable"},
        {14.9, "lblSuperText", "Supperanuuation", "lblSuper"},
        {21.3, "lblExtraText", "Additional contributions", "lblExtra"},
        {27.6, "QRLabel13", "Net Payment", "lblNet"},
    };
    const ReportFont totalFont = arial(10, true);
    // Amounts keep clear of the longest caption ("Additional Contrib @ 12.50%").
    const double amountLeft = 158.0;
    for (const Line& l : lines) {
        total.addLabel(QString::fromUtf8(l.caption), QString::fromUtf8(l.captionText), 105.9, l.y, totalFont);
        total
            .addLabel(QString::fromUtf8(l.amount), QString(), QRectF(amountLeft, l.y, width - amountLeft, 0), totalFont,
                      Qt::AlignRight)
            .fit = TextFit::Number;
    }

    // Every page says whose invoice it is: the pages of a long one may be parted.
    ReportBand& footer = m_report.addBand(BandKind::PageFooter, QStringLiteral("QRBand4"), 5.0);
    footer
        .addSystemData(QStringLiteral("QRSysData2"), SystemDataKind::PageOfPages, across(1.0), arial(8),
                       Qt::AlignHCenter)
        .fit = TextFit::Text;
}

ReportControl& InvoiceReport::operator[](const QString& name) const
{
    ReportControl* c = m_report.control(name);
    Q_ASSERT_X(c, "InvoiceReport", "no such control");
    return *c;
}

void InvoiceReport::QRDBText6Print(QString& text)
{
    text = FormatMoney(StrToNumber(text));
}

void InvoiceReport::QRDBText8Print(QString& text)
{
    QRDBText6Print(text);
    // A deduction of no time is -0 to the database; it is still no adjustment.
    if (text == u"0.00" || text == u"-0.00")
        text.clear();
}

} // namespace velmar
