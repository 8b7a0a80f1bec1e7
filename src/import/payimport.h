#pragma once

#include <QIODevice>
#include <QSqlDatabase>
#include <QStringList>

namespace velmar {

class Prompter;
struct AppSettings;
struct AppState;

// Reads one line of a pay file and splits it into fields. Returns field 0 (the record kind),
// "E" for a corrupt line (reported), or an empty text at the end of the file.
QString ReadPayLine(QIODevice& file, QStringList* PayFields, Prompter& prompter);

// Splits one line (without its line end) into fields.
QStringList SplitPayLine(const QByteArray& line);

// Imports a pay file as one data set, all or nothing. Sets state.CurrentDataSet and
// CurrentDataSetLabel as it goes. Returns true when the data set was stored; the caller then
// refreshes its doctor list. Every outcome is reported through the prompter.
bool ImportPaymentFile(const QString& path, const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                       Prompter& prompter);

} // namespace velmar
