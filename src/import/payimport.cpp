#include "import/payimport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/clock.h"
#include "core/inifile.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/dialect.h"
#include "db/fastinsert.h"
#include "db/reading.h"
#include "db/sqltransaction.h"
#include "history/history.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QStringEncoder>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace velmar {

namespace {

PayLine::Status readPayText(QIODevice& file, QByteArray& buffer, QString* text);

bool isSeparator(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

// Raised when a record lacks a field that is read; the message names the position.
struct MissingField
{
    int position;
};

// Fields of a doctor or shift record are read from 10 up, then in order: the first one missing
// is the one named in the message.
void requireFields(qsizetype fields, int firstRead, int count)
{
    if (fields <= firstRead)
        throw MissingField{firstRead};
    if (fields < count)
        throw MissingField{static_cast<int>(fields)};
}

QString field(const QStringList& fields, int position)
{
    if (position >= fields.size())
        throw MissingField{position};
    return fields.at(position);
}

QString quoted(const QString& text)
{
    return QStringLiteral("'") + QuoteForSql(text) + QStringLiteral("'");
}

// A number field beyond these is no pay figure but a fault of the file; it would be stored as
// infinity, or overflow.
constexpr double kMoneyLimit = 1e9;
constexpr long kMinutesLimit = 10000000;
// What a file that is no pay file (a spreadsheet, a PDF) gets told.
const QString kHeaderLines = QStringLiteral("a pay file starts with an A line, then a B line");

// Raised for a number field that is not finite or out of range; the message quotes the field.
struct NumberOutOfRange
{
    QString text;
};

// Raised for a number field that holds more than a number ("1,234.56", "£12", "12O4", "NaN"), which
// would be read only as far as it goes; the message quotes the field.
struct NotANumber
{
    QString text;
    QString message() const { return QStringLiteral("Not a number: %1").arg(text); }
};

// Raised for minutes with a fraction, which would be cut to whole minutes.
struct NotWholeMinutes
{
    QString text;
};

// The decimals of a number written plainly in ASCII ("-12.5" has 1), or -1 for any other text.
// *value: the number, when it has two decimals or fewer and 15 digits or fewer; else left alone.
int plainDecimals(QStringView text, double* value = nullptr)
{
    const auto digits = [&](qsizetype* at) {
        const qsizetype from = *at;
        while (*at < text.size() && text[*at] >= u'0' && text[*at] <= u'9')
            ++*at;
        return *at - from;
    };
    qsizetype at = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    const qsizetype whole = digits(&at);
    qsizetype decimals = 0;
    if (at < text.size() && text[at] == u'.') {
        ++at;
        decimals = digits(&at);
    }
    if (at != text.size() || whole + decimals == 0)
        return -1;
    if (value && decimals <= 2 && whole + decimals <= 15) {
        // Digits as a whole number, exact in a double; one division by an exact power of ten rounds
        // to the double nearest the decimal, as reading the text does.
        qint64 digitsValue = 0;
        for (const QChar c : text)
            if (c >= u'0' && c <= u'9')
                digitsValue = digitsValue * 10 + (c.unicode() - u'0');
        const double number = double(digitsValue) / (decimals == 0 ? 1.0 : decimals == 1 ? 10.0 : 100.0);
        *value = text.startsWith(u'-') ? -number : number;
    }
    return int(decimals);
}

// The field's number, or 0 when it is empty (blanks only). Anything beside the number is refused.
// *decimals: as plainDecimals.
double wholeNumber(QStringView text, int* decimals = nullptr)
{
    static const QRegularExpression number(QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)"));
    const QStringView trimmed = text.trimmed();
    double value = std::numeric_limits<double>::quiet_NaN();
    const int plain = plainDecimals(trimmed, &value);
    if (decimals)
        *decimals = plain;
    if (trimmed.isEmpty())
        return 0;
    if (!std::isnan(value))
        return value;
    // Most fields are plain numbers, which the pattern would take too; it judges the rest.
    if (plain < 0 && !number.match(trimmed).hasMatch())
        throw NotANumber{text.toString()};
    return StrToNumber(trimmed);
}

double checkedNumber(QStringView text, int* decimals = nullptr)
{
    const double value = wholeNumber(text, decimals);
    if (!std::isfinite(value) || std::fabs(value) > kMoneyLimit)
        throw NumberOutOfRange{text.toString()};
    return value;
}

// The money value as the text statement would store it: two decimals.
double money(QStringView text)
{
    int decimals = -1;
    const double value = checkedNumber(text, &decimals);
    // Written with two decimals or fewer, the number is its own rounding (amounts stay far below
    // the digits a double holds): the costly round trip through the text changes nothing.
    return decimals >= 0 && decimals <= 2 ? value : RoundedToPence(value);
}

long minutes(QStringView text)
{
    const double value = wholeNumber(text);
    if (!std::isfinite(value) || std::fabs(value) > kMinutesLimit)
        throw NumberOutOfRange{text.toString()};
    if (value != std::trunc(value))
        throw NotWholeMinutes{text.toString()};
    return long(value);
}

// Texts in UTF-8 back to back, each found by its number.
template <int Count> struct Utf8Texts
{
    QByteArray bytes;
    int ends[Count] = {};

    void encode(const QStringView (&texts)[Count])
    {
        qsizetype units = 0;
        for (const QStringView t : texts)
            units += t.size();
        // Three bytes at most for each UTF-16 unit.
        bytes.resize(3 * units);
        char* const begin = bytes.data();
        char* out = begin;
        for (int at = 0; at < Count; ++at) {
            QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
            out = utf8.appendToBuffer(out, texts[at]);
            ends[at] = int(out - begin);
        }
        bytes.truncate(out - begin);
    }
    QByteArrayView operator[](int at) const
    {
        const int from = at == 0 ? 0 : ends[at - 1];
        return QByteArrayView(bytes).sliced(from, ends[at] - from);
    }
};

// A record checked and converted where it is read, ready to bind; or the fault its checks raised,
// thrown again when the record's turn comes, so that it names the same line as ever.
struct ShiftRow
{
    enum Text { Id, Date, Location, Shift, Times, Notes, TextCount };
    // The date in ISO, empty when it is no date.
    Utf8Texts<TextCount> texts;
    double rate = 0;
    double total = 0;
    double adjustmentRate = 0;
    double superfee = 0;
    double nonsuperfee = 0;
    long adjustmentTime = 0;
    int extra = 0;
    std::exception_ptr fault;
};

struct DoctorRow
{
    // Fields 1 to 16; the annuity's place stays empty.
    Utf8Texts<16> texts;
    QString id;
    double annuity = 0;
    // As the statement in a message shows it.
    QString annuityText;
    // A field short, found before the doctor's second record is; the annuity's fault, after.
    std::exception_ptr missing;
    std::exception_ptr fault;
};

// A line as the writer takes it: a doctor's or shift record comes prepared, with its text for the
// messages that quote its fields; any other line split into fields.
struct FedLine
{
    PayLine line;
    std::optional<ShiftRow> shift;
    std::optional<DoctorRow> doctor;
    QString text;
};

// Calls add(field, lasting) for each field of the line: a view into the line (lasting), or, where
// doubled quotes were undone, into a text that lives only during the call.
template <typename Add> void forEachPayField(const QString& line, Add&& add)
{
    const qsizetype n = line.size();
    qsizetype i = 0;
    const auto skipSeparators = [&] {
        while (i < n && isSeparator(line.at(i)))
            ++i;
    };
    skipSeparators();
    while (i < n) {
        if (line.at(i) == u'"') {
            // Up to the closing quote or the end of the line; "" inside stands for ".
            const qsizetype from = ++i;
            QString undoubled;
            for (;;) {
                qsizetype end = i;
                while (end < n && line.at(end) != u'"')
                    ++end;
                if (end + 1 < n && line.at(end + 1) == u'"') {
                    undoubled += QStringView(line).sliced(i, end + 1 - i);
                    i = end + 2;
                    continue;
                }
                if (undoubled.isNull()) {
                    add(QStringView(line).sliced(from, end - from), true);
                } else {
                    undoubled += QStringView(line).sliced(i, end - i);
                    add(QStringView(undoubled), false);
                }
                i = end < n ? end + 1 : n;
                break;
            }
        } else {
            const qsizetype start = i;
            while (i < n && line.at(i) != u',' && !isSeparator(line.at(i)))
                ++i;
            add(QStringView(line).sliced(start, i - start), true);
        }
        skipSeparators();
        if (i < n && line.at(i) == u',') {
            if (i == n - 1)
                add(QStringView(), true);
            ++i;
            skipSeparators();
        }
    }
}

// The fields of one line as views, kept from line to line.
struct FieldViews
{
    std::vector<QStringView> views;
    // Fields whose doubled quotes were undone.
    std::deque<QString> undoubled;
};

// Empty fields read as one blank.
QStringList blankedFields(QStringList fields)
{
    for (QString& f : fields)
        if (f.isEmpty())
            f = QStringLiteral(" ");
    return fields;
}

void prepareDoctor(const std::vector<QStringView>& f, double defaultAnnuity, DoctorRow& row)
{
    try {
        requireFields(qsizetype(f.size()), 10, 17);
    } catch (...) {
        row.missing = std::current_exception();
        return;
    }
    row.id = f[1].toString();
    try {
        row.annuityText = FormatMoney(checkedNumber(f[10] == u"999" ? FormatMoney(defaultAnnuity) : f[10]));
        row.annuity = StrToNumber(row.annuityText);
        row.texts.encode(
            {f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], {}, f[11], f[12], f[13], f[14], f[15], f[16]});
    } catch (...) {
        row.fault = std::current_exception();
    }
}

// Splits a line read; a record is checked and converted in the order the checks have always run, so
// that its first fault is the one reported. A doctor's "999" is the default annuity.
FedLine feedLine(PayLine::Status status, QString text, FieldViews& split, double defaultAnnuity)
{
    FedLine fed;
    fed.line.status = status;
    if (status != PayLine::Record)
        return fed;
    std::vector<QStringView>& f = split.views;
    f.clear();
    split.undoubled.clear();
    forEachPayField(text, [&](QStringView field, bool lasting) {
        if (!lasting)
            field = split.undoubled.emplace_back(field.toString());
        f.push_back(field.isEmpty() ? QStringView(u" ") : field);
    });
    if (!f.empty() && f.front() == u"H") {
        prepareDoctor(f, defaultAnnuity, fed.doctor.emplace());
        fed.text = std::move(text);
        return fed;
    }
    if (f.empty() || f.front() != u"D") {
        fed.line.fields.reserve(qsizetype(f.size()));
        for (const QStringView field : f)
            fed.line.fields.append(field.toString());
        return fed;
    }
    ShiftRow& row = fed.shift.emplace();
    try {
        requireFields(qsizetype(f.size()), 10, 14);
        row.extra = f[10] == u"Y" ? 1 : f[10] == u"N" ? -1 : 0;
        const QString isoDate = PayDateToIso(f[2]);
        row.rate = money(f[6]);
        row.total = money(f[7]);
        row.adjustmentTime = minutes(f[8]);
        row.adjustmentRate = money(f[9]);
        row.superfee = money(f[12]);
        row.nonsuperfee = money(f[13]);
        row.texts.encode({f[1], isoDate, f[3], f[4], f[5], f[11]});
    } catch (...) {
        row.fault = std::current_exception();
    }
    fed.text = std::move(text);
    return fed;
}

// The lines after the header, read, split and prepared on a thread of their own while the caller
// stores the lines before them: an import then costs about what the slower half costs. Reading stops
// at the end of the file or at a damaged line, and when the feed is destroyed. A pipe is read as it
// is needed: a failed import must not wait for its writer to finish.
class LineFeed
{
public:
    LineFeed(QIODevice& file, double defaultAnnuity) : m_file(file), m_defaultAnnuity(defaultAnnuity)
    {
        if (!file.isSequential())
            m_reader = std::thread([this] { read(); });
    }
    ~LineFeed()
    {
        if (!m_reader.joinable())
            return;
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_space.notify_all();
        m_reader.join();
    }
    LineFeed(const LineFeed&) = delete;
    LineFeed& operator=(const LineFeed&) = delete;

    // The next line, valid until the next call; *position is how far into the file the reader has got.
    FedLine& next(qint64* position)
    {
        if (!m_reader.joinable()) {
            *position = 0;
            return m_single = nextLine();
        }
        if (m_taken == m_current.lines.size()) {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return !m_batches.empty(); });
            // The reader frees what it made: freeing on this thread would cost the writer the time.
            m_spent.push_back(std::move(m_current));
            m_current = std::move(m_batches.front());
            m_batches.pop_front();
            m_taken = 0;
            lock.unlock();
            m_space.notify_one();
        }
        *position = m_current.position;
        return m_current.lines[m_taken++];
    }

private:
    struct Batch
    {
        std::vector<FedLine> lines;
        qint64 position = 0;
    };
    // Lines go over in batches, so that the two threads seldom meet at the lock; a few batches
    // ahead at most, so that memory does not grow with the file.
    static constexpr size_t kBatchLines = 256;
    static constexpr size_t kBatchesAhead = 8;

    FedLine nextLine()
    {
        QString text;
        const PayLine::Status status = readPayText(m_file, m_buffer, &text);
        return feedLine(status, std::move(text), m_split, m_defaultAnnuity);
    }

    void read()
    {
        for (bool last = false; !last;) {
            Batch batch;
            batch.lines.reserve(kBatchLines);
            while (!last && batch.lines.size() < kBatchLines) {
                batch.lines.push_back(nextLine());
                last = batch.lines.back().line.status != PayLine::Record;
            }
            batch.position = m_file.isSequential() ? 0 : m_file.pos();
            std::vector<Batch> spent;
            std::unique_lock lock(m_mutex);
            m_space.wait(lock, [this] { return m_stop || m_batches.size() < kBatchesAhead; });
            if (m_stop)
                return;
            m_batches.push_back(std::move(batch));
            spent.swap(m_spent);
            lock.unlock();
            m_ready.notify_one();
        }
    }

    QIODevice& m_file;
    const double m_defaultAnnuity;
    QByteArray m_buffer;
    FieldViews m_split;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_space;
    std::deque<Batch> m_batches;
    std::vector<Batch> m_spent;
    bool m_stop = false;
    Batch m_current;
    size_t m_taken = 0;
    FedLine m_single;
};

class Importer
{
public:
    Importer(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Prompter& prompter,
             const ImportProgress& progress)
        : m_settings(settings), m_state(state), m_db(db), m_prompter(prompter), m_progress(progress)
    {
    }

    bool run(QIODevice& file, ImportResult* result);
    // The label and data-set lines alone.
    bool header(QIODevice& file, ImportResult* result)
    {
        try {
            return readHeaderLines(file, result);
        } catch (const MissingField& missing) {
            return failAtLine(QStringLiteral("List index out of bounds (%1)").arg(missing.position));
        }
    }

private:
    PayLine readLine(QIODevice& file);
    bool readHeaderLines(QIODevice& file, ImportResult* result);
    bool dataSetExists(bool* exists);
    // Doctors of the stored copy who were mailed their invoices.
    int doctorsSent();
    bool deleteDataSet();
    // The data set's label; without it the data set would be missing from the picker.
    bool insertFileName();
    bool prepareInserts();
    bool readRecords(QIODevice& file, int recno, ImportResult* result);
    bool insertDoctor(const DoctorRow& row, const QString& text);
    bool insertShift(const ShiftRow& row, const QString& text, int recno);
    bool insertFailed(const FastInsert& insert, const QStringList& statement);
    // Sends rows a server still holds; false after the message.
    bool finishInserts();
    // Shows the message with the number of the line the import stopped at, and what to do.
    bool failAtLine(const QString& message, const QString& advice = QString());

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    const ImportProgress& m_progress;
    QString m_name;
    QString m_label;
    QByteArray m_nameUtf8;
    int m_line = 0;
    FastInsert m_insertHeader;
    FastInsert m_insertDetail;
    // The pay-file line of each row written, for a server that refuses a row only later.
    QList<int> m_headerLines;
    QList<int> m_detailLines;
    // The line of each doctor's record so far, by id.
    QHash<QString, int> m_doctorLines;
};

PayLine Importer::readLine(QIODevice& file)
{
    // The end of the file counts as a line too: an empty file is short of its line 1.
    ++m_line;
    return ReadPayLine(file);
}

bool Importer::failAtLine(const QString& message, const QString& advice)
{
    // One arg: text from the file may hold a "%1" of its own.
    m_prompter.error(QStringLiteral("%1 (line %2)").arg(message, QString::number(m_line)) +
                     (advice.isEmpty() ? QString() : QStringLiteral(": ") + advice));
    return false;
}

bool Importer::readHeaderLines(QIODevice& file, ImportResult* result)
{
    const PayLine labelLine = readLine(file);
    if (labelLine.status == PayLine::Record && labelLine.fields.isEmpty())
        throw MissingField{0};
    if (labelLine.status != PayLine::Record || labelLine.kind() != u"A")
        return failAtLine(QStringLiteral("Corrupt import file"), kHeaderLines);
    m_label = field(labelLine.fields, 1);
    result->label = m_label;

    const PayLine nameLine = readLine(file);
    if (nameLine.status == PayLine::Record && nameLine.fields.isEmpty())
        throw MissingField{0};
    if (nameLine.status != PayLine::Record || nameLine.kind() != u"B")
        return failAtLine(QStringLiteral("Corrupt import file"), kHeaderLines);
    m_name = field(nameLine.fields, 1);
    m_nameUtf8 = m_name.toUtf8();
    result->dataSet = m_name;
    if (m_name.trimmed().isEmpty())
        return failAtLine(QStringLiteral("The data set has no name"));
    return true;
}

bool Importer::dataSetExists(bool* exists)
{
    ReadQuery check(m_db,
                    QStringLiteral("SELECT DISTINCT DataSet FROM Headers WHERE DataSet = %1").arg(quoted(m_name)));
    int rows = 0;
    if (!check.forEachRow([&rows](const QSqlQuery&) { ++rows; })) {
        m_prompter.error(check.trouble().isEmpty() ? QStringLiteral("Error reading from database") : check.trouble());
        return false;
    }
    *exists = rows == 1;
    return true;
}

int Importer::doctorsSent()
{
    // The send log outlives an overwrite.
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT count(DISTINCT id) FROM SendLog WHERE DataSet = %1 AND outcome = 'sent'")
                    .arg(quoted(m_name))) ||
        !q.next())
        return 0;
    return q.value(0).toInt();
}

bool Importer::deleteDataSet()
{
    // Going on after a refused deletion would store the new rows beside the old; and SQLite, out of
    // disk, may have ended the whole transaction, so that each row after would be kept on its own.
    for (const char* table : {"Headers", "Details", "FileNames"}) {
        const QString statement =
            QStringLiteral("DELETE FROM %1 WHERE DataSet = %2").arg(QLatin1String(table), quoted(m_name));
        QSqlQuery q(m_db);
        if (!q.exec(statement)) {
            m_prompter.error(StatementFailure(m_db, q.lastError(), {statement}));
            return false;
        }
    }
    return true;
}

bool Importer::insertFileName()
{
    // When it was imported, for the picker: UTC, as the send log keeps its times.
    const QString values =
        QStringLiteral("VALUES(%1, %2, '%3')")
            .arg(quoted(m_name), quoted(m_label), Clock::currentDateTime().toUTC().toString(Qt::ISODate));
    QSqlQuery q(m_db);
    // Named columns: a database made by a later version, with columns of its own, takes the row too.
    if (q.exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label, Imported) ") + values))
        return true;
    return failAtLine(StatementFailure(m_db, q.lastError(), {QStringLiteral("INSERT INTO FileNames ") + values}));
}

bool Importer::prepareInserts()
{
    m_headerLines.clear();
    m_detailLines.clear();
    m_doctorLines.clear();
    // The shift records stream to a server as they are read; the doctors' few wait for the end.
    for (FastInsert* insert : {&m_insertHeader, &m_insertDetail}) {
        const bool header = insert == &m_insertHeader;
        const QString table = header ? QStringLiteral("Headers") : QStringLiteral("Details");
        if (!insert->prepare(m_db, table, header ? FastInsert::Sending::AtFinish : FastInsert::Sending::Streamed))
            return failAtLine(StatementFailure(m_db, insert->lastError(), {QStringLiteral("INSERT into ") + table}));
    }
    return true;
}

bool Importer::insertFailed(const FastInsert& insert, const QStringList& statement)
{
    // A full disk or a locked file is no fault of the row.
    // The line is no help there: nothing is wrong with it.
    const QString table = &insert == &m_insertHeader ? QStringLiteral("Headers") : QStringLiteral("Details");
    const QString trouble = DatabaseTrouble(m_db, insert.lastError(), QStringLiteral("INSERT into ") + table);
    if (!trouble.isEmpty()) {
        m_prompter.error(trouble);
        return false;
    }
    const QList<int>& lines = &insert == &m_insertHeader ? m_headerLines : m_detailLines;
    if (insert.failedRow() == lines.size() - 1 && !statement.isEmpty())
        return failAtLine(QStringLiteral("SQL Error: %1").arg(StatementText(statement)));
    // A server refuses a row of a batch it was sent later: name that row's line and the server's
    // reason, as the row's statement is no longer at hand.
    if (insert.failedRow() >= 0 && insert.failedRow() < lines.size())
        m_line = lines.at(insert.failedRow());
    return failAtLine(QStringLiteral("SQL Error: %1").arg(ServerReason(insert.lastError().databaseText())));
}

bool Importer::finishInserts()
{
    // The streamed COPY first: it holds the connection until it ends.
    for (FastInsert* insert : {&m_insertDetail, &m_insertHeader})
        if (!insert->finish())
            return insertFailed(*insert, {});
    return true;
}

bool Importer::insertDoctor(const DoctorRow& row, const QString& text)
{
    if (row.missing)
        std::rethrow_exception(row.missing);
    // A second record of the same doctor would add his pay twice.
    if (const int first = m_doctorLines.value(row.id); first > 0) {
        m_prompter.error(QStringLiteral("Doctor %1 appears twice (lines %2 and %3)")
                             .arg(row.id, QString::number(first), QString::number(m_line)));
        return false;
    }
    m_doctorLines.insert(row.id, m_line);
    if (row.fault)
        std::rethrow_exception(row.fault);

    m_insertHeader.bindUtf8(0, m_nameUtf8);
    for (int i = 1; i <= 16; ++i) {
        if (i == 10)
            m_insertHeader.bind(i, row.annuity);
        else
            m_insertHeader.bindUtf8(i, row.texts[i - 1]);
    }
    m_headerLines.append(m_line);
    if (m_insertHeader.exec())
        return true;

    const QStringList fields = blankedFields(SplitPayLine(text));
    QStringList values{quoted(m_name)};
    for (int i = 1; i <= 16; ++i)
        values.append(i == 10 ? QStringLiteral("'%1'").arg(row.annuityText) : quoted(fields[i]));
    return insertFailed(m_insertHeader,
                        {QStringLiteral("INSERT into Headers"), QStringLiteral("VALUES(%1)").arg(values.join(u','))});
}

bool Importer::insertShift(const ShiftRow& row, const QString& text, int recno)
{
    if (row.fault)
        std::rethrow_exception(row.fault);
    // A text that is no date is refused like any other bad value.
    const bool date = !row.texts[ShiftRow::Date].isEmpty();
    if (date) {
        FastInsert& q = m_insertDetail;
        q.bind(0, qint64(recno));
        q.bindUtf8(1, m_nameUtf8);
        q.bindUtf8(2, row.texts[ShiftRow::Id]);
        q.bindUtf8(3, row.texts[ShiftRow::Date]);
        q.bindUtf8(4, row.texts[ShiftRow::Location]);
        q.bindUtf8(5, row.texts[ShiftRow::Shift]);
        q.bindUtf8(6, row.texts[ShiftRow::Times]);
        q.bind(7, row.rate);
        q.bind(8, row.total);
        q.bind(9, qint64(row.adjustmentTime));
        q.bind(10, row.adjustmentRate);
        q.bind(11, qint64(row.extra));
        q.bindUtf8(12, row.texts[ShiftRow::Notes]);
        q.bind(13, row.superfee);
        q.bind(14, row.nonsuperfee);
        m_detailLines.append(m_line);
        if (q.exec())
            return true;
    }
    const QStringList fields = blankedFields(SplitPayLine(text));
    // One call of arg: a second one would also fill a "%10" that a text brought in.
    const QStringList statement{
        QStringLiteral("INSERT into Details"),
        QStringLiteral("VALUES(%1, %2, %3,%4,%5,%6,%7,'%8','%9', %10, '%11', %12, %13, '%14', '%15')")
            .arg(QString::number(recno), quoted(m_name), quoted(fields[1]),
                 quoted(date ? QString::fromUtf8(row.texts[ShiftRow::Date]) : fields[2]), quoted(fields[3]),
                 quoted(fields[4]), quoted(fields[5]), FormatMoney(row.rate), FormatMoney(row.total),
                 QString::number(row.adjustmentTime), FormatMoney(row.adjustmentRate), QString::number(row.extra),
                 quoted(fields[11]), FormatMoney(row.superfee), FormatMoney(row.nonsuperfee))};
    if (!date)
        return failAtLine(QStringLiteral("SQL Error: %1").arg(StatementText(statement)));
    return insertFailed(m_insertDetail, statement);
}

bool Importer::readRecords(QIODevice& file, int recno, ImportResult* result)
{
    // Empty lines up to the very end are how many exporters end a file; before a record they are
    // a fault, reported at the first of them.
    int firstEmptyLine = 0;
    const qint64 size = file.isSequential() ? 0 : file.size();
    qint64 position = file.isSequential() ? 0 : file.pos();
    const auto report = [&] {
        if (m_progress)
            m_progress(position, size);
    };
    report();
    LineFeed feed(file, m_settings.Solo ? 0.0 : m_settings.Superannuation);
    for (;;) {
        // Often enough for a progress bar, seldom enough to cost nothing.
        if (m_line % 512 == 0)
            report();
        // The end of the file counts as a line too.
        ++m_line;
        const FedLine& fed = feed.next(&position);
        const PayLine& line = fed.line;
        if (line.status == PayLine::EndOfFile) {
            report();
            return true;
        }
        if (!fed.shift && !fed.doctor && line.status == PayLine::Record && line.fields.isEmpty()) {
            if (firstEmptyLine == 0)
                firstEmptyLine = m_line;
            continue;
        }
        if (firstEmptyLine > 0) {
            m_line = firstEmptyLine;
            throw MissingField{0};
        }
        if (line.status == PayLine::Corrupt)
            return failAtLine(QStringLiteral("Corrupt import file"));
        if (fed.shift) {
            if (!insertShift(*fed.shift, fed.text, recno))
                return false;
            ++recno;
            ++result->shifts;
        } else if (fed.doctor) {
            if (!insertDoctor(*fed.doctor, fed.text))
                return false;
            ++result->doctors;
        }
    }
}

bool Importer::run(QIODevice& source, ImportResult* result)
{
    history::HashingReader file(source);
    try {
        if (!readHeaderLines(file, result))
            return false;
        // The check, the removal of a stored copy and the new rows share one write transaction,
        // so a second copy of the program importing the same file at the same time finds this
        // data set, not nothing. The question is asked outside it, so nobody waits on the user.
        bool overwrite = false;
        for (;;) {
            SqlTransaction transaction(m_db);
            // Before the rollback, whichever way the import stops: a COPY left open would refuse it.
            const auto cancelInserts = qScopeGuard([this] {
                m_insertDetail.cancel();
                m_insertHeader.cancel();
            });
            if (!transaction.isActive()) {
                m_prompter.error(TransactionFailure(m_db, transaction));
                return false;
            }
            bool exists = false;
            if (!dataSetExists(&exists))
                return false;
            if (exists && !overwrite) {
                const int sent = doctorsSent();
                transaction.rollback();
                QString question = QStringLiteral("%1 already exist - Overwrite?").arg(m_name);
                if (sent > 0)
                    question += QStringLiteral("\n%1 doctors were already sent their invoices; they will show as "
                                               "changed where their figures change.")
                                    .arg(sent);
                if (!m_prompter.question(question))
                    return false;
                overwrite = true;
                continue;
            }
            // An overwrite keeps what it replaces, whole, in its history entry.
            QByteArray replaced;
            QString trouble;
            if (exists && (replaced = history::DumpDataSet(m_db, m_name, &trouble)).isEmpty()) {
                m_prompter.error(trouble);
                return false;
            }
            if (exists && !deleteDataSet())
                return false;
            const int recno = NextRecordNumber(m_db, m_prompter);
            if (recno < 0 || !insertFileName() || !prepareInserts())
                return false;
            if (!readRecords(file, recno, result) || !finishInserts())
                return false;
            if (!history::RecordImport(m_db, m_name, file, result->doctors, result->shifts, replaced, &trouble)) {
                m_prompter.error(trouble);
                return false;
            }
            if (!transaction.commit()) {
                m_prompter.error(TransactionFailure(m_db, transaction));
                return false;
            }
            break;
        }
    } catch (const MissingField& missing) {
        return failAtLine(QStringLiteral("List index out of bounds (%1)").arg(missing.position));
    } catch (const NumberOutOfRange& number) {
        return failAtLine(QStringLiteral("Number out of range: %1").arg(number.text));
    } catch (const NotANumber& number) {
        return failAtLine(number.message());
    } catch (const NotWholeMinutes& number) {
        return failAtLine(QStringLiteral("Not a whole number of minutes: %1").arg(number.text));
    }
    // Only a stored data set becomes the current one.
    m_state.CurrentDataSet = m_name;
    m_state.CurrentDataSetLabel = m_label;
    return true;
}

} // namespace

QStringList SplitPayLine(const QString& line)
{
    QStringList fields;
    fields.reserve(20);
    forEachPayField(line, [&fields](QStringView field, bool) { fields.append(field.toString()); });
    return fields;
}

namespace {

// One whole line into the buffer, which is kept from line to line: QIODevice::readLine() would
// reserve and give back a block of its own for every line. Read in pieces, so that a line a lone CR
// ends (a file of CRs alone is one long line to readLine) stops at the piece it ends in: what
// follows goes back to be read again, and giving back the rest of the file for every line would
// take hours on a big one.
QByteArray readWholeLine(QIODevice& file, QByteArray& buffer)
{
    constexpr qsizetype kPiece = 512;
    qsizetype size = 0;
    // The line's first CR, and how far the CRs after it have been looked through.
    qsizetype cr = -1;
    qsizetype crsTo = 0;
    for (;;) {
        if (buffer.size() < size + kPiece + 1)
            buffer.resize(std::max(2 * buffer.size(), size + kPiece + 1));
        const qint64 got = file.readLine(buffer.data() + size, kPiece + 1);
        if (got <= 0)
            break;
        const char* const data = buffer.constData();
        const qsizetype from = size;
        size += got;
        if (data[size - 1] == '\n' || got < kPiece)
            break;
        if (cr < 0) {
            const void* found = std::memchr(data + from, '\r', size_t(size - from));
            if (!found)
                continue;
            cr = static_cast<const char*>(found) - data;
            crsTo = cr + 1;
        }
        while (crsTo < size && data[crsTo] == '\r')
            ++crsTo;
        // Something after the CRs: they end no line of their own, the first one ends this.
        if (crsTo < size)
            break;
    }
    return QByteArray(buffer.constData(), size);
}

// One line's text, without its line end.
PayLine::Status readPayText(QIODevice& file, QByteArray& buffer, QString* text)
{
    // Only an empty read ends the file: a pipe has nothing buffered until it is read.
    QByteArray bytes = readWholeLine(file, buffer);
    if (bytes.isEmpty())
        return PayLine::EndOfFile;
    // The line end: LF, and any CRs before it.
    qsizetype end = bytes.size();
    if (bytes.endsWith('\n'))
        --end;
    while (end > 0 && bytes.at(end - 1) == '\r')
        --end;
    // A CR alone inside the line ends it too, as in files written by old Macs: the rest goes back to
    // be read as the next line, so that no record hides in this one's fields.
    const qsizetype cr = bytes.indexOf('\r');
    if (cr >= 0 && cr < end) {
        for (qsizetype i = bytes.size() - 1; i > cr; --i)
            file.ungetChar(bytes.at(i));
        end = cr;
    }
    bytes.truncate(end);
    // A NUL is no text: the rest of the line would be lost behind it.
    if (bytes.contains('\0'))
        return PayLine::Corrupt;
    *text = DecodeWindowsText(bytes);
    return PayLine::Record;
}

} // namespace

PayLine ReadPayLine(QIODevice& file)
{
    QByteArray buffer;
    QString text;
    PayLine line;
    line.status = readPayText(file, buffer, &text);
    if (line.status == PayLine::Record)
        line.fields = SplitPayLine(text);
    return line;
}

namespace {

// Reads a run of digits at pos; returns how many there were.
int readNumber(QStringView text, int* pos, int* value)
{
    int count = 0;
    *value = 0;
    while (*pos < text.size() && text.at(*pos) >= u'0' && text.at(*pos) <= u'9' && count < 5) {
        *value = *value * 10 + (text.at(*pos).unicode() - '0');
        ++*pos;
        ++count;
    }
    return count;
}

int monthFromName(QStringView name)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m)
        if (name.left(3).compare(QLatin1String(months[m]), Qt::CaseInsensitive) == 0)
            return m + 1;
    return 0;
}

} // namespace

QString PayDateToIso(QStringView raw)
{
    const QStringView text = raw.trimmed();
    int pos = 0;
    int a = 0, b = 0, c = 0;
    const int aDigits = readNumber(text, &pos, &a);
    // Year, month, day.
    int ymd[3] = {};
    if (aDigits == 4 && pos < text.size() && text.at(pos) == u'-') {
        // yyyy-mm-dd
        ++pos;
        const int bDigits = readNumber(text, &pos, &b);
        if (bDigits >= 1 && bDigits <= 2 && pos < text.size() && text.at(pos) == u'-') {
            ++pos;
            const int cDigits = readNumber(text, &pos, &c);
            if (cDigits >= 1 && cDigits <= 2 && pos == text.size())
                ymd[0] = a, ymd[1] = b, ymd[2] = c;
        }
    } else if (aDigits >= 1 && aDigits <= 2 && pos < text.size() && text.at(pos) == u'/') {
        // dd/mm/yyyy or dd/mm/yy
        ++pos;
        const int bDigits = readNumber(text, &pos, &b);
        if (bDigits >= 1 && bDigits <= 2 && pos < text.size() && text.at(pos) == u'/') {
            ++pos;
            const int cDigits = readNumber(text, &pos, &c);
            if ((cDigits == 2 || cDigits == 4) && pos == text.size()) {
                // Two-digit years as Windows reads them: 00-29 this century, 30-99 the last.
                if (cDigits == 2)
                    c += c < 30 ? 2000 : 1900;
                ymd[0] = c, ymd[1] = b, ymd[2] = a;
            }
        }
    } else if (aDigits >= 1 && aDigits <= 2 && pos < text.size() && (text.at(pos) == u' ' || text.at(pos) == u'-')) {
        // d mmm yyyy
        const int nameStart = ++pos;
        while (pos < text.size() && text.at(pos).isLetter())
            ++pos;
        const int month = monthFromName(text.mid(nameStart, pos - nameStart));
        if (month > 0 && pos < text.size() && (text.at(pos) == u' ' || text.at(pos) == u'-')) {
            ++pos;
            if (readNumber(text, &pos, &c) == 4 && pos == text.size())
                ymd[0] = c, ymd[1] = month, ymd[2] = a;
        }
    }
    const auto [y, m, d] = ymd;
    if (!QDate::isValid(y, m, d))
        return QString();
    // Years of four digits only, as every accepted form gives.
    const char16_t iso[] = {char16_t(u'0' + y / 1000),
                            char16_t(u'0' + y / 100 % 10),
                            char16_t(u'0' + y / 10 % 10),
                            char16_t(u'0' + y % 10),
                            u'-',
                            char16_t(u'0' + m / 10),
                            char16_t(u'0' + m % 10),
                            u'-',
                            char16_t(u'0' + d / 10),
                            char16_t(u'0' + d % 10)};
    return QString(reinterpret_cast<const QChar*>(iso), std::size(iso));
}

bool ImportPaymentFile(QIODevice& file, const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                       Prompter& prompter, ImportResult* result, const ImportProgress& progress)
{
    ImportResult unused;
    ImportResult& r = result ? *result : unused;
    r = ImportResult();
    Importer importer(settings, state, db, prompter, progress);
    return importer.run(file, &r);
}

namespace {

// "Error opening %s: %s" with the system's reason, so that a clerk knows what to put right.
bool openPayFile(QFile& file, Prompter& prompter)
{
    const bool folder = QFileInfo(file.fileName()).isDir();
    if (!folder && file.open(QIODevice::ReadOnly))
        return true;
    prompter.error(QStringLiteral("Error opening %1: %2")
                       .arg(file.fileName(), folder ? QStringLiteral("it is a folder") : file.errorString()));
    return false;
}

} // namespace

bool ReadPayFileHeader(const QString& path, Prompter& prompter, ImportResult* result)
{
    QFile file(path);
    if (!openPayFile(file, prompter))
        return false;
    const AppSettings settings;
    AppState state;
    *result = ImportResult();
    return Importer(settings, state, QSqlDatabase(), prompter, {}).header(file, result);
}

bool ImportPaymentFile(const QString& path, const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                       Prompter& prompter, ImportResult* result, const ImportProgress& progress)
{
    QFile file(path);
    if (!openPayFile(file, prompter))
        return false;
    return ImportPaymentFile(file, settings, state, db, prompter, result, progress);
}

} // namespace velmar
