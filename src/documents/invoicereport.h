#pragma once

#include "report/report.h"

namespace velmar {

// The pro-forma (self-billing) invoice form: one doctor's shift rows with his totals.
// Layout in millimetres on A4 portrait with 12.7 mm margins; the band is 184.6 mm wide.
class InvoiceReport
{
public:
    InvoiceReport();

    Report& report() { return m_report; }
    // A control of the form by its name; the form must have it.
    ReportControl& operator[](const QString& name) const;
    ReportBand& titleBand() const { return *m_report.band(QStringLiteral("QRBand1")); }

    // Print handlers: "%0.2f" of the text's number (0.00 for no number); the second also blanks a zero.
    static void QRDBText6Print(QString& text);
    static void QRDBText8Print(QString& text);

private:
    Report m_report;
};

} // namespace velmar
