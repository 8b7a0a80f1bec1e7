#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QHash>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlRecord>

#include <optional>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

namespace velmar {

class Prompter;
struct AppSettings;
struct AppState;

// A digits-only field in fixed two-digit groups ("99/99/99", "99:99"). Its text keeps the
// separators, shows blank positions as spaces and right-aligns a lone digit in its group, so
// " 5/11/06" is what the user typed as 5/11/06.
class MaskedEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit MaskedEdit(const QString& pattern, QWidget* parent = nullptr);
    // "9" a digit, "#" a digit or sign, anything else stands as it is.
    void setPattern(const QString& pattern);
    QString maskedText() const;

private:
    QString m_pattern;
};

// A titleless group of exclusive choices that can also have none (index -1). It is one Tab stop
// (the chosen item, else the first); the arrow keys move between the items.
class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    RadioGroup(const QString& name, const QStringList& items, int columns, QWidget* parent = nullptr);
    int itemIndex() const;
    void setItemIndex(int index);
    QRadioButton* button(int index) const;

signals:
    void clicked(int index);

private:
    void updateTabStop();

    QButtonGroup* m_buttons;
};

// Edits one shift record of Details: the detail window's current shift row. Modal; every opening
// reloads the fields from the row given with setShiftRow. OK keeps the dialog open, with what was
// typed, while a field cannot be saved. With PartSuperannuation on it also edits the record's
// superannuable and non-superannuable parts, which follow a change of its net pay until the clerk
// types them.
class RecordEditor : public QDialog
{
    Q_OBJECT
public:
    RecordEditor(const AppSettings& settings, AppState& state, QSqlDatabase db, Prompter& prompter,
                 QWidget* parent = nullptr);

    // recno of the record about to be edited, set by the caller; the row itself comes from setShiftRow.
    int RecordNumber = 0;
    // The row to edit; none when the caller's grid is empty (OK then writes nothing).
    void setShiftRow(const std::optional<QSqlRecord>& row);

public slots:
    void FormShow();
    void totalChange();
    void OKBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* addAmountField(const char* name);
    int extraValue() const;
    // The net pay as totalChange reads it from the fields.
    double fieldsNet() const;
    bool changed(const QLineEdit* edit) const { return edit->text() != m_shown.value(edit); }
    bool moneyChanged() const;
    // The statement OK would run for the fields as they stand; empty, with what to tell the clerk
    // in *problem and the field to put right in *where, when they cannot be saved.
    QStringList updateStatement(QString* problem, QWidget** where) const;

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    std::optional<QSqlRecord> m_row;

    MaskedEdit* m_dt;
    QLineEdit* m_location;
    QLineEdit* m_shift;
    QLineEdit* m_tm;
    QLineEdit* m_rate;
    QLineEdit* m_total;
    QLineEdit* m_superfee;
    QLineEdit* m_nonsuperfee;
    MaskedEdit* m_edAdjTime;
    QLineEdit* m_edAdjRate;
    RadioGroup* m_rgAdjExtra;
    // What each field showed when the record was loaded.
    QHash<const QLineEdit*, QString> m_shown;
    int m_shownExtra = -1;
    // The net pay the fields showed when loaded; the parts follow it until the clerk types them.
    double m_shownNet = 0;
    bool m_partsTyped = false;
    bool m_loading = false;
    QLineEdit* m_notes;
    QLabel* m_lblNet;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

// "%d:%d" as the C library reads it: hours, then minutes after a colon; what cannot be read is 0.
// A minus before the hours makes both parts negative.
void ReadHoursMinutes(const QString& text, int* hours, int* minutes);

} // namespace velmar
