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
enum class SystemDataKind { Date, PageNumber };

// One printable control of a band. Positions are millimetres from the band's top left.
//
// Text is placed by its rectangle: left-aligned text starts at the left edge, right-aligned text
// ends at the right edge, centred text is centred between the two. Auto-sized text is never cut;
// otherwise it is clipped to the rectangle's width. Word wrap breaks lines at the width.
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
    // Label: its text. System data: the text printed before the date or page number.
    QString caption;
    // Data text: the column of the report's current row.
    QString field;
    // Data text: show the column's ISO date text as dd/mm/yyyy.
    bool isDate = false;
    SystemDataKind systemData = SystemDataKind::Date;
    // Column of the report's table export (spreadsheet lines); -1 when the control is not in it.
    int column = -1;
    // May rewrite the text about to be printed.
    std::function<void(QString& text)> OnPrint;
};

} // namespace velmar
