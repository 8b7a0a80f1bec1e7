#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>

#include <memory>
#include <vector>

namespace velmar {

class Prompter;
struct AppSettings;

// One doctor's money figures; nothing here is ever stored.
struct PaymentFigures
{
    double gross = 0;
    double superannuation = 0;
    double additionalContribution = 0;
    double netPayment = 0;
    double employerContribution = 0;
    double superannuableFees = 0;    // not rounded
    double nonSuperannuableFees = 0; // not rounded
    bool noPension = false;
    bool payGross = false;
};

// Formats with "%0.2f" and reads the text back, so the figure is exactly what is printed.
double RoundMoney(double value);

// "add1|add2|town|county|postcode" to display lines separated by CR; single-space parts vanish.
QString FormatAddressLines(const QString& text);

// The doctor's Headers row as letters name him: "title fname sname".
QString DoctorFullName(const QSqlRecord& doctor);

// "SELECT * FROM Headers WHERE DataSet = '%s' AND id = '%s'", both values escaped.
QString DoctorStatement(const QString& dataSet, const QString& doctorId);

// The shift-rows query for one doctor, ordered by recno, with Adj_Time (hours), Adjustment and Net.
QString ShiftRowsStatement(const QString& dataSet, const QString& doctorId);

class ReadQuery;

// A data set's doctors in the order of the doctor list (name order, then as stored), and each one's
// shift rows exactly as ShiftRowsStatement gives them, read with two statements for the whole data
// set rather than one per doctor. Run it inside a ReadSnapshot: both statements then see one moment.
// A caller that runs statements of its own between doctors says so: a server's rows then come with
// a statement per doctor, as its connection cannot keep one result open beside another.
class DataSetReader
{
public:
    DataSetReader(const QSqlDatabase& db, const QString& dataSet, bool readsBetween = false);
    ~DataSetReader();
    DataSetReader(const DataSetReader&) = delete;
    DataSetReader& operator=(const DataSetReader&) = delete;

    // Reads the doctors, the whole list or none; false when the read fails.
    bool readDoctors(QList<QSqlRecord>* doctors);
    // The shift rows of the doctor at `index` of that list. Indices only rise from one call to the
    // next (doctors may be passed over). False when the read fails: no rows are given then.
    bool shiftRows(int index, QList<QSqlRecord>* rows);

    // After a failure: the database's trouble (empty when the statement itself was refused) and the
    // statement.
    QString trouble() const { return m_trouble; }
    QString statement() const { return m_statement; }

private:
    QSqlDatabase m_db;
    QString m_dataSet;
    QString m_doctorsStatement;
    QList<QSqlRecord> m_doctors;
    std::unique_ptr<ReadQuery> m_rows;
    bool m_perDoctor = false;
    QSqlRecord m_layout;
    bool m_pending = false;
    int m_next = 0;
    QString m_statement;
    QString m_trouble;
};

// Runs the two statements above; false (after an "Error in query: %s" message, or the database's
// trouble) when one fails.
// LoadDoctor also refuses a doctor that is not there: "Doctor %s not found in data set %s".
bool LoadDoctor(const QSqlDatabase& db, const QString& dataSet, const QString& doctorId, QSqlRecord* doctor,
                Prompter& prompter);
bool LoadShiftRows(const QSqlDatabase& db, const QString& dataSet, const QString& doctorId, QList<QSqlRecord>* rows,
                   Prompter& prompter);

// Runs a select quietly: every row, plus the column names (values null) even when no row comes back.
// False when the statement fails or its rows end early: *trouble then holds the database's trouble
// ("The database stopped answering: ..."), or is empty when the statement itself was refused,
// which the caller words. No rows are given then.
bool QueryRecords(const QSqlDatabase& db, const QString& statement, QList<QSqlRecord>* rows,
                  QSqlRecord* columns = nullptr, QString* trouble = nullptr);

// Shift_Date as stored (ISO text); invalid when empty or no date.
QDate ShiftDate(const QVariant& value);
// Shift_Date as shown: "dd/mm/yyyy", empty when there is no date.
QString ShiftDateText(const QVariant& value);

// What the money rules add up of a doctor's shift rows (Net, superfee, nonsuperfee), added in recno
// order.
struct ShiftSums
{
    double net = 0;
    double superfee = 0;
    double nonsuperfee = 0;
};

// Each doctor's records of a data set read with one statement: for every id that has records, the
// `columns` (expressions over Details, read as numbers, NULL as 0) of each record, a row after
// another in the order the shift-rows query gives them (recno). Far faster than reading the rows
// as records or joined with their doctors; records without an id are no one's and left out. False
// when the read fails; *trouble and *statement then as DataSetReader gives them.
bool ReadRecordNumbers(const QSqlDatabase& db, const QString& dataSet, const QStringList& columns,
                       QHash<QString, std::vector<double>>* numbers, QString* trouble, QString* statement);

// The doctors of a data set as DataSetReader lists them, with only the columns their figures need
// (id, annuity, nosolo, paygross).
bool ReadFigureDoctors(const QSqlDatabase& db, const QString& dataSet, QList<QSqlRecord>* doctors, QString* trouble,
                       QString* statement);

// Every doctor's sums in a data set with one statement, by id (a doctor without records has none):
// far faster than his shift rows when only the figures are wanted. False when the read fails;
// *trouble and *statement then as DataSetReader gives them.
bool ReadShiftSums(const QSqlDatabase& db, const QString& dataSet, QHash<QString, ShiftSums>* sums, QString* trouble,
                   QString* statement);

// The money rules: doctor's Headers row plus his shift rows (as returned by the shift-rows query),
// or their sums.
PaymentFigures ComputePaymentFigures(const AppSettings& settings, const QSqlRecord& doctor,
                                     const QList<QSqlRecord>& shiftRows);
PaymentFigures ComputePaymentFigures(const AppSettings& settings, const QSqlRecord& doctor, const ShiftSums& sums);

// The amount the invoice states as his payment: in pension-form mode a doctor paid gross is
// paid his gross, every other doctor his net payment.
double PrintedPayment(const AppSettings& settings, const PaymentFigures& figures);

} // namespace velmar
