#pragma once

#include <QIODevice>
#include <QSqlDatabase>
#include <QStringList>

#include <functional>

namespace velmar {

class Prompter;
struct AppSettings;
struct AppState;

// One line of a pay file: its fields, or the end of the file, or a corrupt line (one that holds a
// NUL byte).
struct PayLine
{
    enum Status { Record, EndOfFile, Corrupt };
    Status status = EndOfFile;
    QStringList fields;
    // Field 0, or an empty text when the line has no fields.
    QString kind() const { return fields.isEmpty() ? QString() : fields.first(); }
};

// Reads one whole line (any length; ending in CR LF, LF or a CR alone) and splits it into fields.
PayLine ReadPayLine(QIODevice& file);

// Splits one line, without its line end, into fields: blanks and control characters separate
// unquoted fields, commas separate fields, "..." keeps blanks and "" inside stands for ".
QStringList SplitPayLine(const QString& line);

// Turns a shift date as written in a pay file (dd/mm/yyyy, dd/mm/yy, d mmm yyyy, yyyy-mm-dd)
// into ISO text; empty when the text is no date.
QString PayDateToIso(QStringView text);

struct ImportResult
{
    // As read from the file, also when the import then fails.
    QString dataSet;
    QString label;
    int doctors = 0;
    int shifts = 0;
};

// The label and data-set name of a pay file, from its first two lines, without importing it.
// False after the message the import would give.
bool ReadPayFileHeader(const QString& path, Prompter& prompter, ImportResult* result);

// How far the import has read: bytes read of the file's size (0 when unknown, as for a pipe).
// Called as the records are read, from 0 to the end.
using ImportProgress = std::function<void(qint64 read, qint64 size)>;

// Imports a pay file as one data set, all or nothing. Returns true when the data set was stored;
// only then does it become state.CurrentDataSet (with its label), and the caller refreshes its
// doctor list. Every failure is reported through the prompter, with the line it stopped at.
bool ImportPaymentFile(const QString& path, const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                       Prompter& prompter, ImportResult* result = nullptr, const ImportProgress& progress = {});
// The same from a device open for reading, which may be a pipe.
bool ImportPaymentFile(QIODevice& file, const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                       Prompter& prompter, ImportResult* result = nullptr, const ImportProgress& progress = {});

} // namespace velmar
