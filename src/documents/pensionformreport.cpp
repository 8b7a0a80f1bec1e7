#include "documents/pensionformreport.h"

namespace velmar {

namespace {

ReportFont formFont(double size, bool bold = false, bool italic = false)
{
    ReportFont f;
    f.size = size;
    f.bold = bold;
    f.italic = italic;
    return f;
}

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

PensionFormReport::PensionFormReport(Variant variant)
    : m_variant(variant), m_report(variant == EnglandWales ? QStringLiteral("TfrmSolo") : QStringLiteral("TfrmSoloIR"))
{
    const bool sd = variant == EnglandWales;
    // The form's own text of the variant.
    const auto v = [sd](const char* sdText, const char* sbText) { return text(sd ? sdText : sbText); };
    m_report.setPage(QPageLayout::Portrait, QMarginsF(12.7, 6.35, 12.7, 6.35));

    ReportBand& b = m_report.addBand(BandKind::Title, QStringLiteral("QRBand1"), 284.5);
    b.forceNewPage = true;
    const auto label = [&b](const char* name, double x, double y, const ReportFont& font, const QString& caption) {
        return &b.addLabel(text(name), caption, x, y, font);
    };
    int shapes = 0;
    const auto box = [&b, &shapes](double x, double y, double w, double h) {
        b.addRectangle(QStringLiteral("QRShape%1").arg(++shapes), QRectF(x, y, w, h));
    };
    // A value written into a box keeps inside it: a text shrinks and is then cut, an amount shrinks.
    const auto boxValue = [&b](const char* name, double x, double y, double boxRight, TextFit fit) {
        constexpr double inset = 0.8;
        ReportControl& value =
            b.addLabel(text(name), QString(), QRectF(x, y, boxRight - inset - x, 0), formFont(10), Qt::AlignLeft);
        value.fit = fit;
    };

    // Heading and instructions
    label("QRLabel1", 0, 2.0, formFont(11, true), v("NHS Pension Scheme - ", "HPSS Superannuation Scheme - "));
    label("QRLabel2", sd ? 50.8 : 65.3, 2.0, formFont(11, true),
          v("Monthly Pensionable GP Work", "Monthly Superannuable GP Work"));
    label("QRLabel3", sd ? 50.8 : 65.3, 6.6, formFont(11, true),
          v("(Out of Hours / Primary Medical Services)", "(Out of Hours)"));
    label("QRLabel4", sd ? 168.7 : 162.6, 2.0, formFont(11, true), v("GP SOLO", "GP SOLO (NI)"));
    label("QRLabel55", 0, 11.6, formFont(9),
          text("Instructions for completion of this form on a monthly basis can be found over the page. Do not use "
               "this"));
    label("QRLabel56", 0, 14.9, formFont(9),
          text("form if the GP elects to have their pensionable income paid into a practice account and shared. The"));
    label("QRLabel57", 0, 18.1, formFont(9),
          v("NHS employer is responsible for sending this form, with the contributions, to the GP's host PCT / LHB.",
            "VelmarP is responsible for sending this form, with the contributions, to Central Services Agency "
            "(CSA)."));

    // The doctor fills this half in
    label("QRLabel5", 0, 28.1, formFont(10, true), text("Part 1"));
    label("QRLabel6", 12.3, 28.3, formFont(10), text("To be completed by the GP  -  Please give your details below:"));
    label("QRLabel7", 0, 36.6, formFont(10), text("Name"));
    label("QRLabel8", 0, 44.6, formFont(10), text("National Insurance Number"));
    label("QRLabel9", 0, 53.0, formFont(10), v("NHSPS Membership number", "Superannuation Scheme number"));
    label("QRLabel10", 0, 61.0, formFont(10), v("Host PCT/LHB *see Notes)", "Host HSS Board (see Notes)"));
    const char* sdDeclaration[] = {
        "I claim NHSPS membership and confirm that my pensionable pay is as stated in Box X, and that I have",
        "paid the relevant contributions. I declare that no one else shall pension this income, that I am registered",
        "on the Medical Performeds List and I am eligible to join the NHS Pension Scheme. I declare that all the",
        "information on this form is correct, that I have not undertaken this work under a commercial arrangement",
        "and have not recorded this work separately as a pensionable GP locum.",
    };
    const char* sbDeclaration[] = {
        "I claim Superannuation Scheme membership and confirm that my pensionable pay is as stated in Box C, and "
        "that I have",
        "paid the relevant contributions including additional contributions. I declare that no one else shall "
        "pension this income,",
        "that I am registered on the Medical Performers List and I am eligible to join the HPSS Superannuation "
        "Scheme.",
        "I declare that all the information on this form is correct, that I have not undertaken this work under a "
        "commercial",
        "arrangement and have not recorded this work separately as a superannuable GP locum.",
    };
    const double declarationY[] = {66.8, 70.0, 73.3, 76.6, 79.8};
    for (int i = 0; i < 5; ++i) {
        b.addLabel(QStringLiteral("QRLabel%1").arg(58 + i), text(sd ? sdDeclaration[i] : sbDeclaration[i]), 0,
                   declarationY[i], formFont(9));
    }
    label("QRLabel11", 0, 90.2, formFont(10), text("Signature"));
    label("QRLabel12", 0, 101.8, formFont(10), text("Date"));

    box(65.0, 36.3, 76.0, 3.6);
    boxValue("qrName", 67.3, 36.2, 65.0 + 76.0, TextFit::Text);
    const double ninoX[] = {65.1, 71.5, 78.9, 85.3, 92.7, 99.1, 106.5, 112.8, 120.3};
    for (int i = 0; i < 9; ++i) {
        box(ninoX[i], 44.5, 3.6, 3.6);
        b.addLabel(QStringLiteral("qrNHS%1").arg(i + 1), QString(), ninoX[i] + 0.9, 44.5, formFont(10));
    }
    box(65.1, 52.4, 38.1, 3.6);
    boxValue("qrNHSPS_No", 67.3, 52.4, 65.1 + 38.1, TextFit::Text);
    box(65.0, 60.2, 76.0, 3.6);
    boxValue("qrHostPCT", 67.3, 60.3, 65.0 + 76.0, TextFit::Text);
    box(65.0, 85.6, 76.0, 10.3); // signature
    box(65.0, 100.7, 76.0, 4.0); // date
    b.addRule(QStringLiteral("QRHRule1"), QRectF(0, 106.7, 184.5, 0));

    // The employing authority fills this half in
    label("QRLabel13", 0, 109.2, formFont(11, true), text("Part 2"));
    label("QRLabel14", 12.4, 109.1, formFont(11),
          text("To be completed by an authorised signatory (e.g. owner, member, finance director, accountant,"));
    label("QRLabel15", 0, 114.3, formFont(11),
          v("payroll manager, etc.) of the NHS Pension Scheme Employing Authority",
            "payroll manager, etc.) of the HPSS Superannuation Scheme Employing Authority"));
    label("QRLabel16", 0, 121.0, formFont(11), text("Please enter the month the payment below relates to"));
    // Narrow and wrapped: the note stands in the margin beside the month box.
    ReportControl* note =
        label("QRLabel39", 174.8, 119.9, formFont(8), v("(see notes for 2004/05 payment)", "(see notes)"));
    note->rect.setWidth(21.5);
    note->wordWrap = true;
    ReportControl* monthlyPay =
        label("QRLabel17", 0, 128.0, formFont(11),
              v("Monthly pay, excluding NHS Pension Scheme employer contributions, made to the GP",
                "Monthly pay, excluding HPSS Superannuation Scheme employer contributions, made to the GP"));
    monthlyPay->rect.setWidth(125.0);
    monthlyPay->wordWrap = true;
    label("QRLabel18", 0, 139.5, formFont(11),
          v("Professional NHS expences for the month", "Professional HPSS expences for the month"));
    label("QRLabel20", 73.3, 139.5, formFont(9), text("(enter NIL if no expences incurred)"));
    label("QRLabel19", 0, 147.0, formFont(11),
          v("GP's NHS pensionable pay for the month (A - B)", "HPSS Superannuable pay for the month (A - B)"));
    label("QRLabel21", 85.1, 147.0, formFont(9), text("(see Notes)"));
    label("QRLabel22", 0, 156.2, formFont(11),
          v("NHS Pension Scheme employee contributions (6% of Box C)",
            "HPSS Superannuable Scheme employee contributions (6% of Box C)"));
    label("QRLabel23", 0, 165.5, formFont(11),
          v("Additional contributions for Added Years or NHS MPAVCs",
            "Additional contributions for Added Years or HPSS MPAVCs"));
    label("QRLabel24", 99.8, 165.5, formFont(9), text("(see Notes)"));
    label("QRLabel25", 0, 175.1, formFont(11),
          v("NHS Pension Scheme employer contributions (14% of Box C)",
            "HPSS Superannuation Scheme employer contributions (7% of Box C)"));
    label("QRLabel26", 0, 185.6, formFont(11),
          v("Total NHS Pension Scheme contributions (D+E+F)", "Total HPSS Superannation Scheme contributions (D+E+F)"));

    box(95.6, 121.9, 55.5, 3.6);
    boxValue("qrMonthName", 96.5, 121.9, 95.6 + 55.5, TextFit::Text);

    struct MoneyBox
    {
        char letter;
        double y;
        int letterLabel;
        int poundLabel;
    };
    const MoneyBox moneyBoxes[] = {
        {'A', 131.2, 40, 41}, {'B', 139.5, 43, 42}, {'C', 148.6, 45, 44}, {'D', 157.3, 47, 46},
        {'E', 166.0, 49, 48}, {'F', 175.4, 51, 50}, {'G', 184.3, 53, 52},
    };
    for (const MoneyBox& m : moneyBoxes) {
        box(127.9, m.y, 31.9, 3.6);
        b.addLabel(QStringLiteral("QRLabel%1").arg(m.poundLabel), QStringLiteral("\u00a3"), 129.9, m.y,
                   formFont(11, true));
        const QByteArray value = "qrVal" + QByteArray(1, m.letter);
        boxValue(value.constData(), 133.3, m.y, 127.9 + 31.9, TextFit::Number);
        b.addLabel(QStringLiteral("QRLabel%1").arg(m.letterLabel), QString(QChar::fromLatin1(m.letter)), 174.9, m.y,
                   formFont(10));
    }

    // Employer's declaration and signature block
    label("QRLabel27", 0, 193.8, formFont(11, true), text("Declaration: "));
    label("QRLabel28", 24.3, 193.9, formFont(10),
          v("I certify that this NHS Pension Scheme Employing Authority has paid the GP, in",
            "I certify that this HPSS Superannuation Scheme Employing Authority has paid the GP, in"));
    label("QRLabel29", 0, 197.9, formFont(10),
          v("the month stated, the amount (excluding employer contributions) shown in Box A. I confirm that",
            "the month stated, the gross amount net of employer contributions shown in Box A. I confirm that"));
    label("QRLabel30", 0, 201.9, formFont(10),
          v("the pensionable pay is as stated in Box C and that employee contributions have been deducted.",
            "the superannuable pay is as stated in Box C and that employee contributions have been deducted."));
    if (sd) {
        label("QRLabel31", 0, 208.6, formFont(10), text("Please tick one of the following boxes:"));
        label("QRLabel32", 0, 212.8, formFont(10),
              text("I enclose a cheque for the amount shown in Box G made payable to the GP's Host PCT / LHB"));
    }
    label("QRLabel33", 0, sd ? 217.0 : 212.6, formFont(10),
          v("I have paid the amount shown in Box G to the GP's Host PCT/LHB by electronic transfer",
            "I have paid the amount shown in Box G to the Department by electronic transfer"));
    label("QRLabel34", 0, 225.0, formFont(10), text("Signature"));
    label("QRLabel35", 0, 236.2, formFont(10),
          v("Name of NHSPS Employing Authority", "Name of HPSS Employing Authority"));
    label("QRLabel36", 0, 240.2, formFont(8), v("in BLOCK CAPITALS", "(in BLOCK CAPITALS)"));
    label("QRLabel37", 0, 245.1, formFont(10), v("NHS Pension Scheme E A Code", "HPSS Superannuation Scheme E A Code"));
    if (sd)
        label("QRLabel54", 96.5, 247.7, formFont(10), text("e.g. W301 or 7654"));
    label("QRLabel38", 0, 254.5, formFont(10), text("Date of payment"));

    if (sd) {
        box(165.6, 212.8, 4.4, 3.6); // cheque
        box(165.6, 218.3, 4.4, 3.6); // electronic transfer
    } else {
        box(165.6, 212.5, 4.4, 3.6);
    }
    const double blockX = sd ? 63.0 : 73.1;
    const double blockW = sd ? 73.7 : 66.4;
    box(blockX, 223.9, blockW, 8.9); // signature
    box(blockX, 238.8, blockW, 3.6);
    boxValue("qrAuthority", sd ? 64.8 : 75.5, 238.8, blockX + blockW, TextFit::Text);
    box(blockX, 246.4, sd ? 22.9 : 43.2, 3.6);
    boxValue("qrEACode", sd ? 64.8 : 74.9, 246.4, blockX + (sd ? 22.9 : 43.2), TextFit::Text);
    box(blockX, sd ? 253.1 : 254.5, 43.9, 3.6); // date of payment

    const ReportFont noteFont = formFont(8, false, true);
    if (sd) {
        label("QRLabel63", 0, 264.2, noteFont,
              text("Please ensure that Part 1 is completed by the GP before you send this form to the Host PCT/LHB "
                   "with the"));
        label("QRLabel64", 0, 267.1, noteFont,
              text("monies. One single monthly cheque or electronic payment covering several GPs listed under the "
                   "same PCT/LHB"));
        label("QRLabel65", 0, 270.0, noteFont,
              text("may be acceptable, subject to the host PCT/LHB agreement. Please keep a copy of this form for "
                   "your records."));
    } else {
        label("QRLabel63", 0, 264.2, noteFont,
              text("Please ensure that Part 1 is completed by the GP before you send this form to CSA. Please keep "
                   "a copy of this form for your records."));
    }
}

QString PensionFormReport::membershipPrefix() const
{
    return m_variant == EnglandWales ? QStringLiteral("SD  /  ") : QStringLiteral("SB  /  ");
}

ReportControl& PensionFormReport::operator[](const QString& name) const
{
    ReportControl* c = m_report.control(name);
    Q_ASSERT_X(c, "PensionFormReport", "no such control");
    return *c;
}

} // namespace velmar
