#pragma once

#include "report/report.h"

namespace velmar {

// The monthly pension contribution form, one page: the England and Wales form or its Northern
// Ireland variant. Layout in millimetres on A4 portrait, margins 12.7 mm left and right, 6.35 mm
// top and bottom.
class PensionFormReport
{
public:
    enum Variant { EnglandWales, NorthernIreland };
    explicit PensionFormReport(Variant variant);

    Variant variant() const { return m_variant; }
    // "SD  /  " or "SB  /  ": printed before the membership number.
    QString membershipPrefix() const;
    Report& report() { return m_report; }
    ReportControl& operator[](const QString& name) const;

    // Form by the employer's rate: above 10 % England and Wales, else Northern Ireland.
    static Variant variantFor(double employerannuation)
    {
        return employerannuation > 10 ? EnglandWales : NorthernIreland;
    }

private:
    Variant m_variant;
    Report m_report;
};

} // namespace velmar
