#include "payments/recordrules.h"

#include "core/textformat.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace velmar {

namespace {
// As far as the pay file's amounts go: a larger one is a slip of the keyboard.
constexpr double kLargestAmount = 1e9;
} // namespace

QString ReadTypedAmount(const QString& field, const QString& text, double* value)
{
    static const QRegularExpression number(QStringLiteral(R"(^\s*-?(\d+\.?\d*|\.\d+)\s*$)"));
    if (text.trimmed().isEmpty()) {
        *value = 0;
        return QString();
    }
    bool ok = number.match(text).hasMatch();
    const double read = ok ? text.trimmed().toDouble(&ok) : 0;
    if (!ok)
        return QStringLiteral("%1: \"%2\" is not a number").arg(field, text);
    if (!std::isfinite(read) || std::abs(read) > kLargestAmount)
        return QStringLiteral("%1: %2 is out of range").arg(field, text.trimmed());
    *value = read;
    return QString();
}

FeeParts MovedFeeParts(const FeeParts& parts, double netBefore, double netAfter)
{
    FeeParts moved{parts.superfee + (netAfter - netBefore), parts.nonsuperfee};
    // A cut larger than the superannuable part takes the rest from the other, so neither goes
    // below nothing while the net pay does not.
    if (moved.superfee < 0 && moved.nonsuperfee > 0) {
        const double taken = std::min(moved.nonsuperfee, -moved.superfee);
        moved.nonsuperfee -= taken;
        moved.superfee += taken;
    }
    return moved;
}

QString FeePartsProblem(const FeeParts& parts, double net)
{
    // To the penny, as both are shown and stored.
    if (FormatMoney(parts.superfee + parts.nonsuperfee) == FormatMoney(net))
        return QString();
    return QStringLiteral("The superannuable and non-superannuable parts must add up to %1").arg(FormatMoney(net));
}

QDate ProposedShiftDate(const QString& dataSet, const QList<QDate>& recordDates, const QDate& today)
{
    static const QRegularExpression monthYear(QStringLiteral(R"(^(\d\d)_(\d{4})$)"));
    const QRegularExpressionMatch m = monthYear.match(dataSet.trimmed());
    if (m.hasMatch()) {
        const QDate first(m.captured(2).toInt(), m.captured(1).toInt(), 1);
        if (first.isValid())
            return first;
    }
    for (auto date = recordDates.crbegin(); date != recordDates.crend(); ++date)
        if (date->isValid())
            return *date;
    return today;
}

} // namespace velmar
