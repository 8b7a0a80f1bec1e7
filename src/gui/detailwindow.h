#pragma once

#include "payments/payments.h"

#include <QMainWindow>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlRecord>

#include <optional>

class QAction;
class QLabel;
class QPushButton;
class QTableView;
class QToolButton;

namespace velmar {

class ColumnWidths;
class Prompter;
class RecordEditor;
class ShiftRowsModel;
struct AppSettings;
struct AppState;

// One doctor of the open data set: name, address, shift records and money figures. Not modal;
// every show loads the doctor named by state.CurrentDataSet and state.CurrentDoctorId.
class DetailWindow : public QMainWindow
{
    Q_OBJECT
public:
    DetailWindow(const AppSettings& settings, AppState& state, QSqlDatabase db, Prompter& prompter,
                 QWidget* parent = nullptr);

    // The editor opened on a double-click and after "+"; created after this window.
    void setEditor(RecordEditor* editor);

    // What was loaded at the last show (the doctor's Headers row and his shift rows).
    const QSqlRecord& doctor() const { return m_doctor; }
    const QList<QSqlRecord>& shiftRows() const;
    // False after a failed load: no totals, and nothing to print or send until a load succeeds.
    bool isLoaded() const { return m_loaded; }
    // The grid's current row; none when the grid is empty.
    std::optional<QSqlRecord> currentShiftRow() const;

    // A line in the status bar until the next doctor is shown ("Wrote FILE").
    void showMessage(const QString& text);

    // On while a mail to this doctor is on its way: Close is disabled and closing refused.
    bool sendingBusy() const { return m_sendingBusy; }
    void setSendingBusy(bool busy);

signals:
    // The document routine for this doctor: print, or show in the preview.
    void printRequested(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows, bool preview);
    // The pension form: an empty file name shows it in the preview, otherwise it is written there.
    void pensionFormRequested(const QString& fileName, const QSqlRecord& doctor, const PaymentFigures& figures);
    // The user confirmed sending; sendingBusy() is on while the receivers run.
    void sendRequested(const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows);
    void printerSetupRequested();

public slots:
    // The current data set changed: this window and the editor close.
    void closeForOtherDataSet();
    void FormShow();
    void RefreshTotals();
    void DBGrid1DblClick();
    void Button2Click();
    void Button1Click();
    void Close1Click();
    void PrintThisPage1Click();
    void PrintPreview1Click();
    void PreviewSoloForm1Click();
    void CreateSoloPDF1Click();
    void PrinterSetup1Click();
    void Send1Click();
    void History1Click();
    // The status line: the doctor's latest outcome in the send log of the open data set.
    void showSendStatus();
    // The navigator's buttons.
    void First();
    void Prior();
    void Next();
    void Last();
    void Delete();
    // A click on a heading: the grid shows the rows in that column's order, a second click reverses
    // it; what is stored keeps its order.
    void sortByColumn(int column);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    QWidget* buildNavigator();
    bool reloadShiftRows();
    void setLoaded(bool loaded);
    // Deletes one record; a record that is no longer there is reported.
    void deleteRecord(const QString& dataSet, int recno);
    void selectRow(int row);
    void selectRecord(int recno);
    void fitColumns();
    void widenForColumns();
    // A caption followed by the doctor's name and id, once one is loaded.
    QString captioned(const QString& text) const;
    void updateNavigator();

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    class HistoryWindow* m_history = nullptr;
    QPointer<RecordEditor> m_editor;

    QSqlRecord m_doctor;
    QString m_doctorCaption; // "Dr Ann Smith (100)"
    int m_shownWidth = 0;    // as the last show left it
    bool m_loaded = false;
    bool m_doctorLoaded = false;
    QList<QAction*> m_documentActions;
    bool m_sendingBusy = false;

    QLabel* m_name;
    QLabel* m_add1;
    QTableView* m_grid;
    ColumnWidths* m_columnWidths;
    ShiftRowsModel* m_model;
    QToolButton* m_first;
    QToolButton* m_prior;
    QToolButton* m_next;
    QToolButton* m_last;
    QToolButton* m_delete;
    QPushButton* m_add;
    QPushButton* m_close;
    QLabel* m_label3;
    QLabel* m_lbTotal;
    QLabel* m_lblSuperAnnuation;
    QLabel* m_lbAnnuation;
    QLabel* m_label4a;
    QLabel* m_lbExtra;
    QLabel* m_label5;
    QLabel* m_lbPayment;
    QLabel* m_sendStatus;
    QLabel* m_records;
};

} // namespace velmar
