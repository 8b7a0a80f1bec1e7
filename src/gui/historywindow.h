#pragma once

#include "history/history.h"

#include <QDialog>
#include <QSqlDatabase>

class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace velmar {

class Prompter;

// History…: the entries of a data set (or of one doctor in it), newest first, filtered by what is
// typed, read-only. An entry that kept a replaced data set can bring it back, after asking.
class HistoryWindow : public QDialog
{
    Q_OBJECT
public:
    HistoryWindow(QSqlDatabase db, Prompter& prompter, QWidget* parent = nullptr);

    // What to show; read afresh at each call.
    void showFor(const history::Filter& filter);
    // Rows shown now (after the filter), cells joined by tabs.
    QStringList shownRows() const;

public slots:
    void reload();
    void RestoreClick();

signals:
    // A data set was brought back: windows showing it read it again.
    void dataSetRestored(const QString& dataSet);

private:
    void updateButtons();
    const history::Entry* selectedEntry() const;

    QSqlDatabase m_db;
    Prompter& m_prompter;
    history::Filter m_filter;
    QList<history::Entry> m_entries;
    QLabel* m_scope;
    QLineEdit* m_search;
    QTableView* m_grid;
    QStandardItemModel* m_model;
    QSortFilterProxyModel* m_shown;
    QPushButton* m_restore;
};

} // namespace velmar
