#pragma once

#include <QRectF>
#include <QString>

#include <functional>

namespace velmar {

// Font of a report control as the form names it; the painter maps the family to an installed one.
struct ReportFont
{
    QString family = QStringLiteral("Arial");
    double size = 10; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

// The forms' usual font: Arial of a size, bold and underlined as asked.
inline ReportFont arial(double size, bool bold = false, bool underline = false)
{
    ReportFont f;
    f.size = size;
    f.bold = bold;
    f.underline = underline;
    return f;
}

enum class ControlKind { Label, DataText, SystemData, HorizontalRule, Rectangle };
// PageOfPages prints "page N of M": a first run then counts the pages (without making any text).
enum class SystemDataKind { Date, PageNumber, PageOfPages };

// What a text wider than its rectangle does. Text shrinks down to kSmallestFitSize and is then cut
// with an ellipsis; a number shrinks as far as it must and is never cut (a cut amount reads as
// another, valid-looking one).
enum class TextFit { None, Text, Number };
constexpr double kSmallestFitSize = 6; // points

// One printable control of a band. Positions are millimetres from the band's top left.
//
// Text is placed by its rectangle: left-aligned text starts at the left edge, right-aligned text
// ends at the right edge, centred text is centred between the two. Auto-sized text is never cut;
// otherwise it is clipped to the rectangle's width. Word wrap breaks lines at the width. A fitted
// text (fit) keeps within the width whatever its length, on the baseline its own size would have.
struct ReportControl
{
    ReportControl(ControlKind kind, const QString& name) : kind(kind), name(name) {}

    bool hasText() const
    {
        return kind == ControlKind::Label || kind == ControlKind::DataText || kind == ControlKind::SystemData;
    }

    ControlKind kind;
    QString name;
    QRectF rect;
    ReportFont font;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool autoSize = true;
    bool wordWrap = false;
    bool enabled = true;
    TextFit fit = TextFit::None;
    // Label: its text. System data: the text printed before the date or page number.
    QString caption;
    // Data text: the column of the report's current row.
    QString field;
    // Data text: show the column's ISO date text as dd/mm/yyyy.
    bool isDate = false;
    SystemDataKind systemData = SystemDataKind::Date;
    // Column of the report's table export (spreadsheet lines); -1 when the control is not in it.
    int column = -1;
    // Column header: the column's name in the table whatever the heading prints (it may print nothing).
    QString columnName;
    // Detail and summary: what kind of line the control's row is ("total"), the table's first column.
    QString rowKind;
    // May rewrite the text about to be printed.
    std::function<void(QString& text)> OnPrint;
};

} // namespace velmar
