#include "report/reportband.h"

namespace velmar {

ReportControl& ReportBand::add(std::unique_ptr<ReportControl> control)
{
    m_controls.push_back(std::move(control));
    return *m_controls.back();
}

ReportControl& ReportBand::addLabel(const QString& name, const QString& caption, double x, double y,
                                    const ReportFont& font, Qt::Alignment alignment)
{
    return addLabel(name, caption, QRectF(x, y, 0, 0), font, alignment);
}

ReportControl& ReportBand::addLabel(const QString& name, const QString& caption, const QRectF& rect,
                                    const ReportFont& font, Qt::Alignment alignment)
{
    auto c = std::make_unique<ReportControl>(ControlKind::Label, name);
    c->caption = caption;
    c->rect = rect;
    c->font = font;
    c->alignment = alignment;
    return add(std::move(c));
}

ReportControl& ReportBand::addDataText(const QString& name, const QString& field, const QRectF& rect,
                                       const ReportFont& font, Qt::Alignment alignment)
{
    auto c = std::make_unique<ReportControl>(ControlKind::DataText, name);
    c->field = field;
    c->rect = rect;
    c->font = font;
    c->alignment = alignment;
    c->autoSize = false;
    return add(std::move(c));
}

ReportControl& ReportBand::addSystemData(const QString& name, SystemDataKind kind, const QRectF& rect,
                                         const ReportFont& font, Qt::Alignment alignment, const QString& leadingText)
{
    auto c = std::make_unique<ReportControl>(ControlKind::SystemData, name);
    c->systemData = kind;
    c->rect = rect;
    c->font = font;
    c->alignment = alignment;
    c->caption = leadingText;
    return add(std::move(c));
}

ReportControl& ReportBand::addRule(const QString& name, const QRectF& rect)
{
    auto c = std::make_unique<ReportControl>(ControlKind::HorizontalRule, name);
    c->rect = rect;
    return add(std::move(c));
}

ReportControl& ReportBand::addRectangle(const QString& name, const QRectF& rect)
{
    auto c = std::make_unique<ReportControl>(ControlKind::Rectangle, name);
    c->rect = rect;
    return add(std::move(c));
}

ReportControl* ReportBand::control(const QString& name) const
{
    for (const auto& c : m_controls) {
        if (c->name == name)
            return c.get();
    }
    return nullptr;
}

} // namespace velmar
