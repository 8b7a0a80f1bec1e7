#pragma once

#include <QString>
#include <QStringList>

namespace velmar {

// Which installed family draws a report font. The forms name Windows fonts; they are drawn with
// metric-compatible families so that texts keep their widths: Arial and Helvetica with Liberation
// Sans, Times New Roman and Times with Liberation Serif, Courier New and Courier with Liberation Mono.
//
// A substitution entry "Report:Pdf:Fallback" (as in "Arial:Helvetica:Times") draws the report
// font as the PDF font, or as the fallback when that has no installed equivalent.
class ReportFontMap
{
public:
    // False when the entry is malformed or already there (it is then not added again).
    bool add(const QString& entry);
    QStringList entries() const { return m_entries; }
    QString resolve(const QString& family) const;

private:
    QStringList m_entries;
};

} // namespace velmar
