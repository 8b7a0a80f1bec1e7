#include "common/pdftext.h"
#include "report/pdfexportfilter.h"
#include "report/report.h"
#include "report/reportpainter.h"
#include "report/reportsink.h"
#include "report/reporttableexport.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QProcess>
#include <QSqlField>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmar;
using namespace velmar::test;

namespace {

// Remembers every band a run prints: page, band, top and texts.
class RecordingSink : public ReportSink
{
public:
    struct Printed
    {
        int page;
        QString band;
        double top;
        QStringList texts;
    };
    bool beginPage(int pageNumber) override
    {
        pages = pageNumber;
        return true;
    }
    void printBand(const ReportBand& band, double top, const QList<PrintedControl>& controls) override
    {
        QStringList texts;
        for (const PrintedControl& c : controls)
            texts.append(c.text);
        printed.append(Printed{pages, band.name, top, texts});
    }
    QList<Printed> of(const QString& band) const
    {
        QList<Printed> result;
        for (const Printed& p : printed) {
            if (p.band == band)
                result.append(p);
        }
        return result;
    }
    int pages = 0;
    QList<Printed> printed;
};

QSqlRecord row(const QString& field, const QVariant& value)
{
    QSqlRecord r;
    r.append(QSqlField(field, value.metaType()));
    r.setValue(0, value);
    return r;
}

// PageHeader 10, Title 20, ColumnHeader 5, Detail 10, Summary 15, PageFooter 8 on A4 portrait.
std::unique_ptr<Report> bandedReport(int rows)
{
    auto r = std::make_unique<Report>(QStringLiteral("T"));
    ReportFont f;
    r->addBand(BandKind::PageHeader, QStringLiteral("head"), 10);
    r->addBand(BandKind::Title, QStringLiteral("title"), 20);
    r->addBand(BandKind::ColumnHeader, QStringLiteral("columns"), 5);
    r->addBand(BandKind::Detail, QStringLiteral("detail"), 10)
        .addDataText(QStringLiteral("n"), QStringLiteral("n"), QRectF(0, 0, 20, 4), f);
    r->addBand(BandKind::Summary, QStringLiteral("summary"), 15);
    r->addBand(BandKind::PageFooter, QStringLiteral("foot"), 8)
        .addSystemData(QStringLiteral("page"), SystemDataKind::PageNumber, QRectF(0, 0, 100, 0), f, Qt::AlignRight,
                       QStringLiteral("Page "));
    QList<QSqlRecord> data;
    for (int i = 1; i <= rows; ++i)
        data.append(row(QStringLiteral("n"), i));
    r->setDataRows(data);
    return r;
}

} // namespace

TEST(ReportEngine, BreaksPagesBeforeTheFooterAndRepeatsHeadersOnEveryPage)
{
    auto report = bandedReport(60);
    RecordingSink sink;
    QString error;
    ASSERT_TRUE(report->run(sink, &error)) << error.toStdString();

    // Body 271.6 mm, footer from 263.6: 22 rows fit below the first page's headings, 24 on the next.
    ASSERT_EQ(sink.pages, 3);
    EXPECT_EQ(report->pageCount(), 3);
    const auto heads = sink.of(QStringLiteral("head"));
    const auto columns = sink.of(QStringLiteral("columns"));
    const auto feet = sink.of(QStringLiteral("foot"));
    ASSERT_EQ(heads.size(), 3);
    ASSERT_EQ(columns.size(), 3);
    ASSERT_EQ(feet.size(), 3);
    for (int page = 1; page <= 3; ++page) {
        EXPECT_EQ(heads[page - 1].page, page);
        EXPECT_DOUBLE_EQ(heads[page - 1].top, 0);
        EXPECT_DOUBLE_EQ(columns[page - 1].top, page == 1 ? 30 : 10);
        EXPECT_NEAR(feet[page - 1].top, 263.6, 1e-9);
        EXPECT_EQ(feet[page - 1].texts, QStringList{QStringLiteral("Page %1").arg(page)});
    }
    ASSERT_EQ(sink.of(QStringLiteral("title")).size(), 1);
    EXPECT_DOUBLE_EQ(sink.of(QStringLiteral("title")).first().top, 10);

    const auto details = sink.of(QStringLiteral("detail"));
    ASSERT_EQ(details.size(), 60);
    int perPage[4] = {0, 0, 0, 0};
    for (int i = 0; i < details.size(); ++i) {
        EXPECT_EQ(details[i].texts, QStringList{QString::number(i + 1)});
        EXPECT_LE(details[i].top + 10, 263.6 + 1e-9);
        ++perPage[details[i].page];
    }
    EXPECT_EQ(perPage[1], 22);
    EXPECT_EQ(perPage[2], 24);
    EXPECT_EQ(perPage[3], 14);
    const auto summary = sink.of(QStringLiteral("summary"));
    ASSERT_EQ(summary.size(), 1);
    EXPECT_EQ(summary.first().page, 3);
    // The footer is the last band of each page.
    EXPECT_EQ(sink.printed.last().band, QStringLiteral("foot"));
}

TEST(ReportEngine, PageOfPagesCountsTheWholeRunFirst)
{
    auto report = bandedReport(60);
    int texts = 0;
    report->band(QStringLiteral("foot"))
        ->addSystemData(QStringLiteral("of"), SystemDataKind::PageOfPages, QRectF(0, 4, 100, 0), ReportFont(),
                        Qt::AlignLeft, QStringLiteral("Dr Ann Lee - DS1 - "))
        .OnPrint = [&texts](QString&) { ++texts; };
    RecordingSink sink;
    ASSERT_TRUE(report->run(sink, nullptr));
    // The counting run makes no text: each footer's is made once, for its page.
    EXPECT_EQ(texts, 3);
    const auto feet = sink.of(QStringLiteral("foot"));
    ASSERT_EQ(feet.size(), 3);
    for (int page = 1; page <= 3; ++page)
        EXPECT_EQ(feet[page - 1].texts.last(), QStringLiteral("Dr Ann Lee - DS1 - page %1 of 3").arg(page));
    // The counting pass is not printed: one title, sixty lines.
    EXPECT_EQ(sink.of(QStringLiteral("title")).size(), 1);
    EXPECT_EQ(sink.of(QStringLiteral("detail")).size(), 60);
}

TEST(ReportEngine, EmptyDataStillPrintsTheOtherBands)
{
    auto report = bandedReport(0);
    RecordingSink sink;
    ASSERT_TRUE(report->run(sink, nullptr));
    EXPECT_EQ(sink.pages, 1);
    EXPECT_TRUE(sink.of(QStringLiteral("detail")).isEmpty());
    EXPECT_EQ(sink.of(QStringLiteral("title")).size(), 1);
    EXPECT_EQ(sink.of(QStringLiteral("summary")).size(), 1);
    EXPECT_EQ(sink.of(QStringLiteral("foot")).size(), 1);
}

TEST(ReportEngine, FillEventRunsBeforeTheFirstBandAndItsBandHeightAppliesToTheNextBand)
{
    Report report(QStringLiteral("fed"));
    ReportFont f;
    ReportBand& title = report.addBand(BandKind::Title, QStringLiteral("title"), 10);
    ReportControl& caption = title.addLabel(QStringLiteral("caption"), QStringLiteral("design"), 0, 0, f);
    ReportBand& detail = report.addBand(BandKind::Detail, QStringLiteral("detail"), 5);
    ReportControl& line = detail.addLabel(QStringLiteral("line"), QString(), 0, 0, f);
    ReportControl& total = report.addBand(BandKind::Summary, QStringLiteral("sum"), 5)
                               .addLabel(QStringLiteral("total"), QStringLiteral("x"), 0, 0, f);
    int calls = 0;
    int restarts = 0;
    report.BeforePrint = [&] {
        ++restarts;
        calls = 0;
        return true;
    };
    report.OnNeedData = [&] {
        ++calls;
        caption.caption = QStringLiteral("set by the first call");
        if (calls > 3)
            return false;
        line.caption = QStringLiteral("line %1").arg(calls);
        detail.height = calls == 2 ? 20 : 5;
        return true;
    };
    total.OnPrint = [&](QString& text) { text = QStringLiteral("after %1 calls").arg(calls); };

    RecordingSink sink;
    ASSERT_TRUE(report.run(sink, nullptr));
    EXPECT_EQ(sink.of(QStringLiteral("title")).first().texts, QStringList{QStringLiteral("set by the first call")});
    const auto lines = sink.of(QStringLiteral("detail"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].texts.first(), QStringLiteral("line 1"));
    EXPECT_DOUBLE_EQ(lines[0].top, 10);
    EXPECT_DOUBLE_EQ(lines[1].top, 15);
    EXPECT_DOUBLE_EQ(lines[2].top, 35); // the second line was 20 high
    EXPECT_EQ(sink.of(QStringLiteral("sum")).first().texts.first(), QStringLiteral("after 4 calls"));

    // A second run starts afresh.
    RecordingSink again;
    ASSERT_TRUE(report.run(again, nullptr));
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(again.of(QStringLiteral("detail")).size(), 3);
}

TEST(ReportEngine, BeforePrintCanCancelAndHandlersCanFailTheRun)
{
    auto report = bandedReport(5);
    report->BeforePrint = [] { return false; };
    RecordingSink none;
    EXPECT_TRUE(report->run(none, nullptr));
    EXPECT_EQ(none.pages, 0);

    report->BeforePrint = nullptr;
    report->control(QStringLiteral("n"))->OnPrint = [&](QString& text) {
        if (text == u"3")
            report->raiseError(QStringLiteral("row 3 is bad"));
    };
    RecordingSink sink;
    QString error;
    EXPECT_FALSE(report->run(sink, &error));
    EXPECT_EQ(error, QStringLiteral("row 3 is bad"));
    EXPECT_EQ(sink.of(QStringLiteral("detail")).size(), 3);
    EXPECT_TRUE(sink.of(QStringLiteral("summary")).isEmpty());
}

TEST(ReportEngine, OversizedBandsAndForcedPagesDoNotProduceBlankPages)
{
    Report report(QStringLiteral("big"));
    report.addBand(BandKind::Title, QStringLiteral("title"), 300).forceNewPage = true;
    ReportBand& detail = report.addBand(BandKind::Detail, QStringLiteral("detail"), 280);
    detail.forceNewPage = true;
    report.setDataRows({QSqlRecord(), QSqlRecord()});
    RecordingSink sink;
    ASSERT_TRUE(report.run(sink, nullptr));
    // Title alone on page 1 although taller than the page, then one page per detail.
    EXPECT_EQ(sink.pages, 3);
    EXPECT_EQ(sink.of(QStringLiteral("title")).first().page, 1);
    EXPECT_EQ(sink.of(QStringLiteral("detail"))[0].page, 2);
    EXPECT_EQ(sink.of(QStringLiteral("detail"))[1].page, 3);
}

TEST(ReportEngine, DisabledControlsAndDatesOfDataTexts)
{
    Report report(QStringLiteral("d"));
    ReportFont f;
    ReportBand& detail = report.addBand(BandKind::Detail, QStringLiteral("detail"), 5);
    detail.addDataText(QStringLiteral("date"), QStringLiteral("d"), QRectF(0, 0, 20, 4), f).isDate = true;
    detail.addLabel(QStringLiteral("off"), QStringLiteral("hidden"), 30, 0, f).enabled = false;
    report.setDataRows({row(QStringLiteral("d"), QStringLiteral("2005-02-28")),
                        row(QStringLiteral("d"), QStringLiteral("not a date"))});
    RecordingSink sink;
    ASSERT_TRUE(report.run(sink, nullptr));
    const auto lines = sink.of(QStringLiteral("detail"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].texts, QStringList{QStringLiteral("28/02/2005")});
    EXPECT_EQ(lines[1].texts, QStringList{QStringLiteral("not a date")});
}

TEST(ReportEngine, TextLinesBreakAtLineEndsAndWrapAtTheWidth)
{
    QImage device(100, 100, QImage::Format_RGB32);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(10);
    const QFontMetricsF fm(font, &device);
    EXPECT_EQ(ReportPainter::textLines(QStringLiteral("a\rb\r\nc\nd"), fm, 0, false),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    const double width = fm.horizontalAdvance(QStringLiteral("alpha beta"));
    EXPECT_EQ(ReportPainter::textLines(QStringLiteral("alpha beta gamma\rdelta"), fm, width + 1, true),
              (QStringList{QStringLiteral("alpha beta"), QStringLiteral("gamma"), QStringLiteral("delta")}));
    // A word wider than the line stays whole.
    EXPECT_EQ(ReportPainter::textLines(QStringLiteral("extraordinarily"), fm, 5, true),
              QStringList{QStringLiteral("extraordinarily")});
}

class PdfExport : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(PdfExport, TextLandsWhereTheLayoutPutsItInEmbeddedFonts)
{
    Report report(QStringLiteral("layout"));
    report.setPage(QPageLayout::Portrait, QMarginsF(12.7, 6.35, 12.7, 6.35));
    ReportFont arial;
    ReportFont times;
    times.family = QStringLiteral("Times New Roman");
    times.size = 22;
    times.bold = true;
    ReportBand& band = report.addBand(BandKind::Title, QStringLiteral("b"), 100);
    band.addLabel(QStringLiteral("left"), QStringLiteral("Leftword"), 10.6, 21.1, arial);
    band.addLabel(QStringLiteral("right"), QStringLiteral("Rightword"), QRectF(0, 40, 150.5, 0), arial, Qt::AlignRight);
    band.addLabel(QStringLiteral("centre"), QStringLiteral("Centreword"), QRectF(0, 60, report.bandWidth(), 0), times,
                  Qt::AlignHCenter);
    // Kept glyphs of a text with a line separator lost all that followed it.
    band.addLabel(QStringLiteral("separated"), QStringLiteral("Firstpart\u2028Lastpart"), 10.6, 80, arial);
    // Later documents draw the texts from the glyphs the thread keeps for them.
    QString file;
    for (const QString& name :
         {QStringLiteral("layout.pdf"), QStringLiteral("again.pdf"), QStringLiteral("third.pdf")}) {
        file = path(name);
        QString error;
        ASSERT_TRUE(WriteReportPdf(report, file, &error)) << error.toStdString();
        EXPECT_TRUE(PdfIsSound(file));

        PdfText pdf;
        ASSERT_TRUE(pdf.load(file));
        EXPECT_EQ(pdf.pageCount(), 1);
        EXPECT_NEAR(pdf.pageSize(1).width(), 210, 0.5);
        const PdfWord left = pdf.only(QStringLiteral("Leftword"));
        EXPECT_NEAR(left.box.left(), 12.7 + 10.6, 0.2) << name.toStdString();
        EXPECT_NEAR(left.box.top(), 6.35 + 21.1, 0.3);
        EXPECT_NEAR(pdf.only(QStringLiteral("Rightword")).box.right(), 12.7 + 150.5, 0.2);
        const PdfWord centre = pdf.only(QStringLiteral("Centreword"));
        EXPECT_NEAR(centre.box.center().x(), 105, 0.3);
        EXPECT_NEAR(centre.box.top(), 6.35 + 60, 0.3);
        EXPECT_TRUE(pdf.text().contains(QStringLiteral("Lastpart"))) << name.toStdString();
    }

    QProcess fonts;
    fonts.start(QStringLiteral("pdffonts"), {file});
    ASSERT_TRUE(fonts.waitForFinished());
    const QString list = QString::fromUtf8(fonts.readAllStandardOutput());
    EXPECT_TRUE(list.contains(QStringLiteral("LiberationSans"))) << list.toStdString();
    EXPECT_TRUE(list.contains(QStringLiteral("LiberationSerif-Bold"))) << list.toStdString();
    for (const QString& line : list.split(u'\n').mid(2, 2)) {
        // emb column
        EXPECT_TRUE(line.contains(QStringLiteral(" yes "))) << line.toStdString();
    }
}

TEST_F(PdfExport, FittedTextShrinksThenIsCutWhileNumbersOnlyShrink)
{
    Report report(QStringLiteral("fit"));
    ReportBand& band = report.addBand(BandKind::Title, QStringLiteral("b"), 100);
    const auto add = [&](const char* name, const char* text, const QRectF& rect, TextFit fit, Qt::Alignment align) {
        band.addLabel(QString::fromUtf8(name), QString::fromUtf8(text), rect, ReportFont(), align).fit = fit;
    };
    add("short", "Short Name", QRectF(0, 10, 40, 0), TextFit::Text, Qt::AlignLeft);
    add("longer", "Longer Name Shrunk", QRectF(0, 20, 25, 0), TextFit::Text, Qt::AlignLeft);
    add("cut", "Featherstonehaugh-Worthington, Marguerite", QRectF(0, 30, 30, 0), TextFit::Text, Qt::AlignLeft);
    add("amount", "123456.78", QRectF(40, 30, 10, 0), TextFit::Number, Qt::AlignRight);
    add("huge", "12345678901234.56", QRectF(60, 30, 8, 0), TextFit::Number, Qt::AlignRight);
    const QString file = path(QStringLiteral("fit.pdf"));
    QString error;
    ASSERT_TRUE(WriteReportPdf(report, file, &error)) << error.toStdString();
    PdfText pdf;
    ASSERT_TRUE(pdf.load(file));
    const double left = 12.7;
    const PdfWord plain = pdf.only(QStringLiteral("Short Name"));
    const PdfWord shrunk = pdf.only(QStringLiteral("Longer Name Shrunk"));
    EXPECT_LE(shrunk.box.right(), left + 25 + 0.1);
    EXPECT_LT(shrunk.box.height(), plain.box.height() * 0.95);
    EXPECT_GT(shrunk.box.height(), plain.box.height() * 6 / 10);
    // Too long even at 6 pt: cut with an ellipsis, within the width, on the line it was given.
    const QList<QList<PdfWord>> lines = pdf.lines();
    QString cutText;
    PdfWord cutWord;
    for (const auto& line : lines) {
        for (const PdfWord& w : line) {
            if (w.text.startsWith(QStringLiteral("Featherstonehaugh"))) {
                cutWord = w;
                for (const PdfWord& rest : line)
                    if (rest.box.left() < left + 30)
                        cutText += rest.text + u' ';
            }
        }
    }
    cutText = cutText.trimmed();
    EXPECT_TRUE(cutText.endsWith(QChar(0x2026))) << cutText.toStdString();
    EXPECT_LT(cutText.size(), 41);
    EXPECT_NEAR(cutWord.box.height(), plain.box.height() * 6 / 10, 0.3);
    EXPECT_LE(cutWord.box.right(), left + 30 + 0.1);
    EXPECT_NEAR(cutWord.box.bottom(), plain.box.bottom() + 20, 0.5);
    // Numbers are never cut: every digit is there, inside the column.
    const PdfWord amount = pdf.only(QStringLiteral("123456.78"));
    EXPECT_GE(amount.box.left(), left + 40 - 0.1);
    EXPECT_NEAR(amount.box.right(), left + 50, 0.2);
    const PdfWord huge = pdf.only(QStringLiteral("12345678901234.56"));
    EXPECT_GE(huge.box.left(), left + 60 - 0.1);
    EXPECT_LT(huge.box.height(), cutWord.box.height());
}

TEST_F(PdfExport, FailuresLeaveTheTargetAsItWasAndNoTemporaryFileBehind)
{
    const QString file = path(QStringLiteral("kept.pdf"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the earlier document");
    }
    auto report = bandedReport(40);
    report->control(QStringLiteral("n"))->OnPrint = [&](QString& text) {
        if (text == u"30")
            report->raiseError(QStringLiteral("stop"));
    };
    QString error;
    EXPECT_FALSE(WriteReportPdf(*report, file, &error));
    EXPECT_EQ(error, QStringLiteral("stop"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("the earlier document"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.pdf")});

    // A complete run replaces it.
    report->control(QStringLiteral("n"))->OnPrint = nullptr;
    ASSERT_TRUE(WriteReportPdf(*report, file, &error)) << error.toStdString();
    EXPECT_TRUE(PdfIsSound(file));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.pdf")});

    EXPECT_FALSE(WriteReportPdf(*report, path(QStringLiteral("no/such/folder/x.pdf")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no/such/folder/x.pdf"))) << error.toStdString();
}

TEST_F(PdfExport, ConcatenatesReportsWithTheirOwnPageSetUp)
{
    auto portrait = bandedReport(3);
    Report landscape(QStringLiteral("wide"));
    landscape.setPage(QPageLayout::Landscape, QMarginsF(12.7, 12.7, 12.7, 12.7));
    ReportFont f;
    landscape.addBand(BandKind::Title, QStringLiteral("t"), 10)
        .addLabel(QStringLiteral("l"), QStringLiteral("Wide"), 0, 0, f);

    const QString file = path(QStringLiteral("both.pdf"));
    PdfExportFilter filter(file);
    filter.AddFontMap(QStringLiteral("Arial:Helvetica:Times"));
    filter.AddFontMap(QStringLiteral("Arial:Helvetica:Times"));
    EXPECT_EQ(filter.fontMap().entries(), QStringList{QStringLiteral("Arial:Helvetica:Times")});
    QString error;
    ASSERT_TRUE(filter.StartConcat(&error)) << error.toStdString();
    ASSERT_TRUE(portrait->ExportToFilter(filter, &error)) << error.toStdString();
    ASSERT_TRUE(landscape.ExportToFilter(filter, &error)) << error.toStdString();
    ASSERT_TRUE(filter.EndConcat(&error)) << error.toStdString();

    PdfText pdf;
    ASSERT_TRUE(pdf.load(file));
    ASSERT_EQ(pdf.pageCount(), 2);
    EXPECT_NEAR(pdf.pageSize(1).width(), 210, 0.5);
    EXPECT_NEAR(pdf.pageSize(2).width(), 297, 0.5);
    EXPECT_EQ(pdf.only(QStringLiteral("Wide")).page, 2);
}

TEST(ReportTable, CsvQuotesOnlyWhatNeedsItAndNamesEveryColumn)
{
    ReportTable table;
    table.headings = {QStringLiteral("Name"), QStringLiteral("Fees")};
    table.rows.append({QStringLiteral("Smith, J"), QStringLiteral("1.00")});
    table.rows.append({QStringLiteral("O'Hara \"Pat\""), QStringLiteral("-2.50"), QStringLiteral("extra")});
    table.rows.append({QStringLiteral(" padded")});
    EXPECT_EQ(ReportTableCsv(table), QStringLiteral("Name,Fees,Column 3\r\n"
                                                    "\"Smith, J\",1.00,\r\n"
                                                    "\"O'Hara \"\"Pat\"\"\",-2.50,extra\r\n"
                                                    "\" padded\",,\r\n"));
    // Rows that say what they are get a first column for it.
    table.kinds = {QStringLiteral("doctor"), QStringLiteral("doctor"), QStringLiteral("total")};
    EXPECT_TRUE(ReportTableCsv(table).startsWith(QStringLiteral("Kind,Name,Fees,Column 3\r\n"
                                                                "doctor,\"Smith, J\",1.00,\r\n")));
    EXPECT_TRUE(ReportTableCsv(table).endsWith(QStringLiteral("total,\" padded\",,\r\n")));
}

TEST(ReportFonts, WindowsFamiliesAreDrawnWithMetricCompatibleOnes)
{
    ReportFontMap map;
    EXPECT_EQ(map.resolve(QStringLiteral("Arial")), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(map.resolve(QStringLiteral("Times New Roman")), QStringLiteral("Liberation Serif"));
    EXPECT_EQ(map.resolve(QStringLiteral("Liberation Mono")), QStringLiteral("Liberation Mono"));
    EXPECT_TRUE(map.add(QStringLiteral("Arial:Times")));
    EXPECT_FALSE(map.add(QStringLiteral("arial:times")));
    EXPECT_FALSE(map.add(QStringLiteral("nonsense")));
    EXPECT_EQ(map.resolve(QStringLiteral("Arial")), QStringLiteral("Liberation Serif"));
}
