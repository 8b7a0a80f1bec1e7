#pragma once

#include "report/reportcontrol.h"

#include <QString>

#include <memory>
#include <vector>

namespace velmar {

enum class BandKind { Title, PageHeader, ColumnHeader, Detail, Summary, PageFooter };

// A band of a report: a strip across the page, printed as a whole, holding controls.
class ReportBand
{
public:
    ReportBand(BandKind kind, const QString& name, double height) : kind(kind), name(name), height(height) {}

    ReportControl& addLabel(const QString& name, const QString& caption, double x, double y, const ReportFont& font,
                            Qt::Alignment alignment = Qt::AlignLeft);
    // A label anchored by a whole rectangle: right-aligned at its right edge, centred in it.
    ReportControl& addLabel(const QString& name, const QString& caption, const QRectF& rect, const ReportFont& font,
                            Qt::Alignment alignment);
    ReportControl& addDataText(const QString& name, const QString& field, const QRectF& rect, const ReportFont& font,
                               Qt::Alignment alignment = Qt::AlignLeft);
    ReportControl& addSystemData(const QString& name, SystemDataKind kind, const QRectF& rect, const ReportFont& font,
                                 Qt::Alignment alignment, const QString& leadingText = QString());
    ReportControl& addRule(const QString& name, const QRectF& rect);
    ReportControl& addRectangle(const QString& name, const QRectF& rect);

    ReportControl* control(const QString& name) const;
    const std::vector<std::unique_ptr<ReportControl>>& controls() const { return m_controls; }

    BandKind kind;
    QString name;
    double height; // millimetres
    bool forceNewPage = false;

private:
    ReportControl& add(std::unique_ptr<ReportControl> control);
    std::vector<std::unique_ptr<ReportControl>> m_controls;
};

} // namespace velmar
