#pragma once

#include <QDate>
#include <QList>
#include <QString>

namespace velmar {

// An amount as the clerk types it: blanks around it, an optional minus, digits with at most one
// point; empty text is 0. Empty result with *value set, or the message naming the field
// ("Total: \"4-50.5.5\" is not a number").
QString ReadTypedAmount(const QString& field, const QString& text, double* value);

// The two parts of a shift record's net pay when fees are split (PartSuperannuation).
struct FeeParts
{
    double superfee = 0;
    double nonsuperfee = 0;
};

// The parts after the record's net pay went from netBefore to netAfter: the superannuable part
// moves by the same amount, so a record stays wholly superannuable unless the clerk splits it.
FeeParts MovedFeeParts(const FeeParts& parts, double netBefore, double netAfter);

// Empty when the parts add up to the net pay to the penny; otherwise what to tell the clerk.
QString FeePartsProblem(const FeeParts& parts, double net);

// The date a record added to a data set starts with: the first of the month a data set named
// MM_YYYY is for, else the last valid one of the doctor's record dates (stored order), else today.
QDate ProposedShiftDate(const QString& dataSet, const QList<QDate>& recordDates, const QDate& today);

} // namespace velmar
