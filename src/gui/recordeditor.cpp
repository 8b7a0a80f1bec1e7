#include "gui/recordeditor.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/inifile.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/dialect.h"
#include "gui/windowplaces.h"
#include "history/history.h"
#include "payments/payments.h"
#include "payments/recordrules.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QVBoxLayout>

#include <algorithm>

namespace velmar {

namespace {

constexpr QChar kBlank = u'_';

// Reads an optionally signed decimal integer at *pos after blanks, as scanf's %d does.
bool scanInt(const QString& text, int* pos, int* value)
{
    int i = *pos;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    const int digitsStart = i;
    qint64 v = 0;
    while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9') {
        v = qMin<qint64>(v * 10 + (text.at(i).unicode() - '0'), 1000000000);
        ++i;
    }
    if (i == digitsStart)
        return false;
    *value = int(negative ? -v : v);
    *pos = i;
    return true;
}

// A two-character part of the date: an integer after optional leading blanks, else 0.
int datePart(const QString& part)
{
    int start = 0;
    while (start < part.size() && part.at(start) == u' ')
        ++start;
    const QString digits = part.mid(start);
    bool ok = false;
    const int value = digits.toInt(&ok);
    return ok && !digits.startsWith(u'+') ? value : 0;
}

} // namespace

void ReadHoursMinutes(const QString& text, int* hours, int* minutes)
{
    *hours = 0;
    *minutes = 0;
    int pos = 0;
    if (!scanInt(text, &pos, hours))
        return;
    // A sign is the whole time's: -01:30 is an hour and a half taken off, as it is shown.
    const bool negative = text.left(pos).contains(u'-');
    if (pos >= text.size() || text.at(pos) != u':')
        return;
    ++pos;
    if (!scanInt(text, &pos, minutes))
        *minutes = 0;
    if (negative)
        *minutes = -*minutes;
}

MaskedEdit::MaskedEdit(const QString& pattern, QWidget* parent) : QLineEdit(parent)
{
    setPattern(pattern);
}

void MaskedEdit::setPattern(const QString& pattern)
{
    if (pattern == m_pattern)
        return;
    m_pattern = pattern;
    setInputMask(pattern + QStringLiteral(";") + kBlank);
    // Wide enough for the mask and a little more, not the whole row.
    setMaximumWidth(fontMetrics().horizontalAdvance(pattern) * 2 + 16);
}

QString MaskedEdit::maskedText() const
{
    const QString shown = displayText();
    QString result;
    QString group;
    const auto flushGroup = [&] {
        QString digits;
        for (const QChar c : group)
            if (c.isDigit())
                digits += c;
        result += digits.rightJustified(group.size(), u' ');
        group.clear();
    };
    for (const QChar c : shown) {
        if (c.isDigit() || c == kBlank || c == u' ') {
            group += c;
        } else {
            flushGroup();
            result += c;
        }
    }
    flushGroup();
    return result;
}

RadioGroup::RadioGroup(const QString& name, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(parent), m_buttons(new QButtonGroup(this))
{
    setObjectName(name);
    auto* layout = new QGridLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        button->setObjectName(objectName() + QStringLiteral("Item%1").arg(i));
        m_buttons->addButton(button, i);
        layout->addWidget(button, i / columns, i % columns);
    }
    connect(m_buttons, &QButtonGroup::idClicked, this, &RadioGroup::clicked);
    connect(m_buttons, &QButtonGroup::idToggled, this, &RadioGroup::updateTabStop);
    updateTabStop();
}

int RadioGroup::itemIndex() const
{
    return m_buttons->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (QAbstractButton* b = m_buttons->button(index)) {
        b->setChecked(true);
        return;
    }
    // An exclusive group will not let its last checked button go.
    m_buttons->setExclusive(false);
    for (QAbstractButton* b : m_buttons->buttons())
        b->setChecked(false);
    m_buttons->setExclusive(true);
    updateTabStop();
}

QRadioButton* RadioGroup::button(int index) const
{
    return qobject_cast<QRadioButton*>(m_buttons->button(index));
}

void RadioGroup::updateTabStop()
{
    // Tab reaches the group once; the others still take a click and the arrow keys.
    const QList<QAbstractButton*> buttons = m_buttons->buttons();
    QAbstractButton* stop = m_buttons->checkedButton();
    if (!stop && !buttons.isEmpty())
        stop = buttons.constFirst();
    for (QAbstractButton* b : buttons)
        b->setFocusPolicy(b == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

RecordEditor::RecordEditor(const AppSettings& settings, AppState& state, QSqlDatabase db, Prompter& prompter,
                           QWidget* parent)
    : QDialog(parent), m_settings(settings), m_state(state), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("TEditDetail"));
    setWindowTitle(QStringLiteral("Edit Record"));
    setModal(true);

    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* form = new QFormLayout(bevel);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    const auto textField = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromUtf8(name));
        return edit;
    };
    m_dt = new MaskedEdit(QStringLiteral("99/99/99"), this);
    m_dt->setObjectName(QStringLiteral("dt"));
    m_location = textField("location");
    m_shift = textField("shift");
    m_tm = textField("tm");
    m_rate = addAmountField("rate");
    m_total = addAmountField("total");
    m_superfee = addAmountField("superfee");
    m_nonsuperfee = addAmountField("nonsuperfee");
    // The labels' letters take the keyboard to their fields (Alt+D to the date).
    form->addRow(QStringLiteral("&Date:"), m_dt);
    form->addRow(QStringLiteral("&Location:"), m_location);
    form->addRow(QStringLiteral("&Shift:"), m_shift);
    form->addRow(QStringLiteral("T&imes:"), m_tm);
    form->addRow(QStringLiteral("&Rate:"), m_rate);
    auto* totalLabel = new QLabel(QStringLiteral("&Total:"), bevel);
    totalLabel->setBuddy(m_total);
    auto* totalRow = new QHBoxLayout;
    totalRow->addWidget(m_total, 1);
    // The parts of the net pay beside it, when fees are split.
    const bool parts = m_settings.PartSuperannuation;
    for (const auto& [text, edit] : {std::pair{QStringLiteral("Su&perannuable:"), m_superfee},
                                     std::pair{QStringLiteral("N&on-superannuable:"), m_nonsuperfee}}) {
        auto* label = new QLabel(text, bevel);
        label->setBuddy(edit);
        label->setVisible(parts);
        edit->setVisible(parts);
        totalRow->addWidget(label);
        totalRow->addWidget(edit, 1);
        connect(edit, &QLineEdit::textEdited, this, [this] { m_partsTyped = true; });
    }
    form->addRow(totalLabel, totalRow);

    auto* adjustment = new QGroupBox(QStringLiteral("Adjustment"), bevel);
    adjustment->setObjectName(QStringLiteral("GroupBox1"));
    auto* adjForm = new QFormLayout(adjustment);
    adjForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_edAdjTime = new MaskedEdit(QStringLiteral("99:99"), this);
    m_edAdjTime->setObjectName(QStringLiteral("edAdjTime"));
    m_edAdjRate = addAmountField("edAdjRate");
    m_rgAdjExtra = new RadioGroup(QStringLiteral("rgAdjExtra"),
                                  {QStringLiteral("E&xtra Payment"), QStringLiteral("Ded&uction")}, 2, adjustment);
    m_notes = textField("notes");
    adjForm->addRow(QStringLiteral("Ti&me:"), m_edAdjTime);
    adjForm->addRow(QStringLiteral("R&ate:"), m_edAdjRate);
    adjForm->addRow(m_rgAdjExtra);
    adjForm->addRow(QStringLiteral("&Notes:"), m_notes);
    form->addRow(adjustment);

    m_lblNet = new QLabel(QStringLiteral("Net Payment: "), bevel);
    m_lblNet->setObjectName(QStringLiteral("lblNet"));
    QFont bold = m_lblNet->font();
    bold.setBold(true);
    m_lblNet->setFont(bold);
    form->addRow(m_lblNet);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKBtn"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelBtn"));
    m_cancel->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &RecordEditor::OKBtnClick);
    // Escape rejects the dialog too.
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(bevel, 1);
    outer->addLayout(buttons);

    connect(m_total, &QLineEdit::textChanged, this, &RecordEditor::totalChange);
    connect(m_edAdjTime, &QLineEdit::textChanged, this, &RecordEditor::totalChange);
    connect(m_edAdjRate, &QLineEdit::textChanged, this, &RecordEditor::totalChange);
    connect(m_rgAdjExtra, &RadioGroup::clicked, this, &RecordEditor::totalChange);

    QWidget* previous = m_dt;
    for (QWidget* next : std::initializer_list<QWidget*>{
             m_location, m_shift, m_tm, m_rate, m_total, m_superfee, m_nonsuperfee, m_edAdjTime, m_edAdjRate,
             m_rgAdjExtra->button(0), m_rgAdjExtra->button(1), m_notes, m_ok, m_cancel}) {
        setTabOrder(previous, next);
        previous = next;
    }

    // The parts need the room of two more fields beside Total.
    resize(parts ? 640 : 516, 371);
    RememberWindowPlace(this);
}

QLineEdit* RecordEditor::addAmountField(const char* name)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setMaxLength(15);
    edit->installEventFilter(this);
    return edit;
}

void RecordEditor::setShiftRow(const std::optional<QSqlRecord>& row)
{
    m_row = row;
}

void RecordEditor::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window restored by the system keeps what the user typed.
    if (!event->spontaneous())
        FormShow();
}

bool RecordEditor::eventFilter(QObject* watched, QEvent* event)
{
    // rateKeyPress, on the amount fields: only what a number is made of. Keys without text (arrows,
    // Delete) and control characters (Backspace, Enter, Escape, clipboard shortcuts) go through;
    // pasting is not filtered.
    if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(watched)) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty()) {
            const QChar c = text.at(0);
            const bool control = c.unicode() < 0x20 || c.unicode() == 0x7f;
            const bool allowed = (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
            if (!control && !allowed)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void RecordEditor::FormShow()
{
    m_loading = true;
    const auto field = [this](const char* name) { return m_row ? m_row->value(QString::fromUtf8(name)) : QVariant(); };
    const QDate date = ShiftDate(field("Shift_Date"));
    m_dt->setText(date.isValid() ? date.toString(QStringLiteral("dd/MM/yy")) : QString());
    // A single space is how an empty text is stored; the clerk sees an empty field.
    const auto shown = [&field](const char* column) {
        const QString text = field(column).toString();
        return text == u" " ? QString() : text;
    };
    m_location->setText(shown("Location"));
    m_shift->setText(shown("Shift"));
    m_tm->setText(shown("Times"));
    m_rate->setText(FormatMoney(field("Rate").toDouble()));
    m_total->setText(FormatMoney(field("Total").toDouble()));
    m_superfee->setText(FormatMoney(field("superfee").toDouble()));
    m_nonsuperfee->setText(FormatMoney(field("nonsuperfee").toDouble()));
    m_notes->setText(shown("Notes"));
    // Every stored time as it is, a sign or three digits of hours included: the usual mask would
    // cut -30 to 00:30 and 6000 to 10:00, and OK would store that.
    const QString time = AdjustmentTimeText(field("AdjustmentTime").toLongLong());
    QString pattern = time;
    for (QChar& c : pattern)
        c = c.isDigit() ? u'9' : c == u'-' ? u'#' : c;
    m_edAdjTime->setPattern(pattern);
    m_edAdjTime->setText(time);
    m_edAdjRate->setText(FormatMoney(field("AdjustmentRate").toDouble()));
    const int extra = field("Extra").toInt();
    m_rgAdjExtra->setItemIndex(extra == 1 ? 0 : extra == -1 ? 1 : -1);
    m_loading = false;
    m_partsTyped = false;
    m_shownNet = fieldsNet();
    m_shown.clear();
    for (QLineEdit* edit :
         std::initializer_list<QLineEdit*>{m_dt, m_location, m_shift, m_tm, m_rate, m_total, m_superfee, m_nonsuperfee,
                                           m_edAdjTime, m_edAdjRate, m_notes})
        m_shown.insert(edit, edit->text());
    totalChange();
    m_shownExtra = m_rgAdjExtra->itemIndex();
    m_dt->setFocus();
    m_dt->selectAll();
}

int RecordEditor::extraValue() const
{
    switch (m_rgAdjExtra->itemIndex()) {
    case 0:
        return 1;
    case 1:
        return -1;
    default:
        return 0;
    }
}

double RecordEditor::fieldsNet() const
{
    double t = StrToNumber(m_total->text());
    const int s = extraValue();
    int hours = 0;
    int minutes = 0;
    ReadHoursMinutes(m_edAdjTime->maskedText(), &hours, &minutes);
    const double h = hours + minutes * (1.0 / 60);
    const double a = StrToNumber(m_edAdjRate->text()) * (s * h);
    if (s != 0)
        t = t + a;
    return t;
}

void RecordEditor::totalChange()
{
    if (m_loading)
        return;
    const double net = fieldsNet();
    m_lblNet->setText(QStringLiteral("Net Payment: ") + FormatMoney(net));
    // Until the clerk types the parts, a change of the net pay goes to the superannuable one.
    if (m_settings.PartSuperannuation && !m_partsTyped) {
        const auto stored = [this](const QString& column) { return m_row ? m_row->value(column).toDouble() : 0; };
        const FeeParts moved =
            MovedFeeParts({stored(QStringLiteral("superfee")), stored(QStringLiteral("nonsuperfee"))}, m_shownNet, net);
        m_superfee->setText(FormatMoney(moved.superfee));
        m_nonsuperfee->setText(FormatMoney(moved.nonsuperfee));
    }
}

bool RecordEditor::moneyChanged() const
{
    return changed(m_total) || changed(m_edAdjTime) || changed(m_edAdjRate) || changed(m_superfee) ||
           changed(m_nonsuperfee) || m_rgAdjExtra->itemIndex() != m_shownExtra;
}

QStringList RecordEditor::updateStatement(QString* problem, QWidget** where) const
{
    const auto refuse = [&](const QString& text, QWidget* field) {
        *problem = text;
        *where = field;
        return QStringList();
    };
    const auto storedValue = [this](const char* column) {
        return m_row ? m_row->value(QString::fromUtf8(column)) : QVariant();
    };
    // A field left as it was shown writes back what is stored, exactly: showing it may have
    // rounded it (12.345 as 12.35) or the record may hold what the field cannot show.
    const auto stored = [&](const char* column) { return SqlLiteral(storedValue(column)); };
    const auto text = [&](const QLineEdit* edit, const char* column) {
        if (!changed(edit))
            return stored(column);
        return u'\'' + QuoteForSql(edit->text().isEmpty() ? QStringLiteral(" ") : edit->text()) + u'\'';
    };

    QString shiftDate = stored("Shift_Date");
    if (changed(m_dt)) {
        const QString tmp = m_dt->maskedText();
        const QString parts[] = {tmp.mid(0, 2), tmp.mid(3, 2), tmp.mid(6, 2)};
        const int day = datePart(parts[0]);
        const int month = datePart(parts[1]);
        const int year = datePart(parts[2]);
        const QDate date(2000 + year, month, day);
        // A blank part is no part: "01/03/  " is no date, not the 1st of March 2000.
        const bool blank = std::any_of(std::begin(parts), std::end(parts),
                                       [](const QString& part) { return part.trimmed().isEmpty(); });
        if (blank || !date.isValid())
            return refuse(QStringLiteral("Invalid date: tmp: %1, day: %2, month: %3, year: %4")
                              .arg(tmp, QString::number(day), QString::number(month), QString::number(year)),
                          m_dt);
        shiftDate = u'\'' + date.toString(Qt::ISODate) + u'\'';
    }

    // Each amount as it will be stored: typed ones to the penny.
    struct Amount
    {
        QLineEdit* edit;
        const char* column;
        QString field;
        double value = 0;
    };
    Amount amounts[] = {{m_rate, "Rate", QStringLiteral("Rate")},
                        {m_total, "Total", QStringLiteral("Total")},
                        {m_edAdjRate, "AdjustmentRate", QStringLiteral("Adjustment rate")},
                        {m_superfee, "superfee", QStringLiteral("Superannuable")},
                        {m_nonsuperfee, "nonsuperfee", QStringLiteral("Non-superannuable")}};
    for (Amount& a : amounts) {
        a.value = storedValue(a.column).toDouble();
        if (!changed(a.edit))
            continue;
        const QString wrong = ReadTypedAmount(a.field, a.edit->text(), &a.value);
        if (!wrong.isEmpty())
            return refuse(wrong, a.edit);
        a.value = RoundedToPence(a.value);
    }
    const auto amount = [&](const Amount& a) { return changed(a.edit) ? FormatMoney(a.value) : stored(a.column); };
    const Amount& total = amounts[1];
    const Amount& adjustmentRate = amounts[2];

    QString adjustmentTime = stored("AdjustmentTime");
    qint64 minutes = storedValue("AdjustmentTime").toLongLong();
    if (changed(m_edAdjTime)) {
        int h = 0;
        int m = 0;
        ReadHoursMinutes(m_edAdjTime->maskedText(), &h, &m);
        if (m > 59 || m < -59)
            return refuse(QStringLiteral("Invalid time: %1 (the minutes run from 00 to 59)")
                              .arg(m_edAdjTime->maskedText().trimmed()),
                          m_edAdjTime);
        minutes = qint64(h) * 60 + m;
        adjustmentTime = QString::number(minutes);
    }
    const bool kindChanged = m_rgAdjExtra->itemIndex() != m_shownExtra;
    const int extra = kindChanged ? extraValue() : storedValue("Extra").toInt();
    // Time and rate typed without a kind would silently count for nothing.
    if ((kindChanged || changed(m_edAdjTime) || changed(m_edAdjRate)) && extra == 0 && minutes != 0 &&
        adjustmentRate.value != 0)
        return refuse(QStringLiteral("The adjustment time and rate count only when Extra Payment or Deduction is "
                                     "chosen: choose one, or clear the time."),
                      m_rgAdjExtra->button(0));

    QStringList partLines;
    if (m_settings.PartSuperannuation && moneyChanged()) {
        // As the record's Net will be computed from what is stored.
        const double net = total.value + extra * adjustmentRate.value * double(minutes) / 60.0;
        const QString wrong = FeePartsProblem({amounts[3].value, amounts[4].value}, net);
        if (!wrong.isEmpty())
            return refuse(wrong, m_superfee);
        partLines = QStringList{QStringLiteral("superfee = %1,").arg(amount(amounts[3])),
                                QStringLiteral("nonsuperfee = %1,").arg(amount(amounts[4]))};
    }

    const int recno = m_row ? m_row->value(QStringLiteral("recno")).toInt() : 0;
    QStringList asOpened = TableColumns(QStringLiteral("Details"));
    asOpened.removeAll(QStringLiteral("recno"));
    asOpened.removeAll(QStringLiteral("DataSet"));
    // Every text escaped: an apostrophe is stored as typed rather than breaking the statement.
    return QStringList{
               QStringLiteral("UPDATE Details"),
               QStringLiteral("SET Shift_Date = %1,").arg(shiftDate),
               QStringLiteral("Location = %1,").arg(text(m_location, "Location")),
               QStringLiteral("Shift = %1,").arg(text(m_shift, "Shift")),
               QStringLiteral("Times = %1,").arg(text(m_tm, "Times")),
               QStringLiteral("Rate = %1,").arg(amount(amounts[0])),
               QStringLiteral("Total = %1,").arg(amount(total)),
           } +
           partLines +
           QStringList{
               QStringLiteral("AdjustmentTime = %1,").arg(adjustmentTime),
               QStringLiteral("AdjustmentRate = %1,").arg(amount(adjustmentRate)),
               QStringLiteral("Extra = %1,").arg(kindChanged ? QString::number(extra) : stored("Extra")),
               QStringLiteral("Notes = %1").arg(text(m_notes, "Notes")),
               // One call of arg: a data-set name holding "%1" must not take in the number.
               QStringLiteral("WHERE DataSet = '%1' AND recno = %2")
                   .arg(QuoteForSql(m_state.CurrentDataSet), QString::number(recno)),
               // Nothing is written over another clerk's change made since the record was read.
               QStringLiteral("AND ") + UnchangedSince(m_row ? *m_row : QSqlRecord(), asOpened),
           };
}

void RecordEditor::OKBtnClick()
{
    if (!m_row) {
        // Opened on no record: there is nothing to write.
        accept();
        return;
    }
    QString problem;
    QWidget* where = nullptr;
    const QStringList lines = updateStatement(&problem, &where);
    if (lines.isEmpty()) {
        // The dialog stays open with what was typed, so the field can be put right.
        m_prompter.error(problem);
        if (where)
            where->setFocus();
        return;
    }
    int changed = 0;
    if (history::ChangeRecord(
            m_db, history::Action::Edit, m_state.CurrentDataSet, m_row->value(QStringLiteral("recno")).toInt(),
            [&](int) { return lines; }, m_prompter, &changed, QStringLiteral("Error updating data: %1")) < 0) {
        reject();
        return;
    }
    if (changed == 0) {
        // Changed, deleted or re-imported elsewhere: what was typed stays, to be copied or cancelled.
        m_prompter.error(RecordChangedMessage());
        return;
    }
    accept();
}

} // namespace velmar
