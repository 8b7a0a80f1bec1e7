#pragma once

#include <QDialog>
#include <QSqlDatabase>
#include <QTemporaryDir>

class QComboBox;
class QLabel;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace velmar {

class Prompter;
struct AppSettings;
struct AppState;

// Send > Send Log: the latest outcome of each doctor of the open data set who was ever tried, by
// name, filtered by outcome; a doctor whose payment changed since he was sent it shows as
// "changed since sent". Not modal; it reads the log afresh each time it is shown.
class SendLogWindow : public QDialog
{
    Q_OBJECT
public:
    SendLogWindow(const AppSettings& settings, const AppState& state, QSqlDatabase db, Prompter& prompter,
                  QWidget* parent = nullptr);

    // Rows shown now (after the filter), cells joined by tabs.
    QStringList shownRows() const;

public slots:
    void reload();
    // Opens the invoice the selected doctor was last mailed, as it went.
    void ShowSentInvoiceClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyFilter();
    void copySelection() const;

    const AppSettings& m_settings;
    const AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    QLabel* m_dataSet;
    QComboBox* m_filter;
    QTableView* m_grid;
    QStandardItemModel* m_model;
    QSortFilterProxyModel* m_shown;
    // Where shown invoices are written for the viewer; removed with the window.
    QTemporaryDir m_shownFiles;
};

} // namespace velmar
