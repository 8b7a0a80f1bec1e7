#include "db/nameorder.h"

#include "db/clienthandles.h"

#include <QHash>

#include <sqlite3.h>
#include <unicode/ucol.h>

namespace velmar {

namespace {

constexpr char kCollation[] = "NAMEORDER";
constexpr char kKeyFunction[] = "NAMEKEY";

// Sort keys of the names met so far: a summary sorts 100,000 rows over a few thousand names.
// ICU at primary strength, English rules: letters alone count, not case nor accents (Ł as L,
// Ø as O), exactly as a server's ICU collation "en-GB-u-ks-level1" compares them.
class NameKeys
{
public:
    NameKeys()
    {
        UErrorCode status = U_ZERO_ERROR;
        m_collator = ucol_open("en_GB", &status);
        if (U_FAILURE(status)) {
            m_collator = nullptr;
            return;
        }
        ucol_setStrength(m_collator, UCOL_PRIMARY);
    }
    ~NameKeys()
    {
        if (m_collator)
            ucol_close(m_collator);
    }
    NameKeys(const NameKeys&) = delete;
    NameKeys& operator=(const NameKeys&) = delete;

    bool isValid() const { return m_collator != nullptr; }
    int compare(const void* a, int aSize, const void* b, int bSize)
    {
        // Both keys are held before comparing: making the second may rehash the cache.
        const QByteArray first = key(a, aSize);
        const QByteArray second = key(b, bSize);
        return first.compare(second);
    }

    QByteArray key(const void* text, int size)
    {
        const QByteArray bytes = QByteArray::fromRawData(static_cast<const char*>(text), size);
        auto it = m_keys.constFind(bytes);
        if (it != m_keys.constEnd())
            return *it;
        if (m_keys.size() > 100000)
            m_keys.clear();
        const QString name = QString::fromUtf8(bytes);
        const auto* chars = reinterpret_cast<const UChar*>(name.utf16());
        QByteArray sortKey(64, Qt::Uninitialized);
        int length = ucol_getSortKey(m_collator, chars, int(name.size()), reinterpret_cast<uint8_t*>(sortKey.data()),
                                     int(sortKey.size()));
        if (length > sortKey.size()) {
            sortKey.resize(length);
            length = ucol_getSortKey(m_collator, chars, int(name.size()), reinterpret_cast<uint8_t*>(sortKey.data()),
                                     int(sortKey.size()));
        }
        // The key ends in a NUL of its own, which compares equal on both sides.
        sortKey.truncate(length);
        m_keys.insert(QByteArray(bytes.constData(), bytes.size()), sortKey);
        return sortKey;
    }

private:
    UCollator* m_collator = nullptr;
    QHash<QByteArray, QByteArray> m_keys;
};

} // namespace

bool RegisterNameOrder(const QSqlDatabase& db)
{
    sqlite3* handle = SqliteHandle(db);
    if (!handle)
        return false;
    auto* keys = new NameKeys;
    if (!keys->isValid()) {
        delete keys;
        return false;
    }
    const int rc = sqlite3_create_collation_v2(
        handle, kCollation, SQLITE_UTF8, keys,
        [](void* arg, int aSize, const void* a, int bSize, const void* b) {
            return static_cast<NameKeys*>(arg)->compare(a, aSize, b, bSize);
        },
        [](void* arg) { delete static_cast<NameKeys*>(arg); });
    // A failed registration leaves the keys to us.
    if (rc != SQLITE_OK) {
        delete keys;
        return false;
    }
    // The sort key as a value: a sort then makes each row's key once and compares bytes, where the
    // collation is asked twice a key for every comparison. The collation owns the keys.
    return sqlite3_create_function_v2(
               handle, kKeyFunction, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, keys,
               [](sqlite3_context* context, int, sqlite3_value** args) {
                   // Numbers stay numbers, which sort before every name as they do under the collation.
                   if (sqlite3_value_type(args[0]) != SQLITE_TEXT) {
                       sqlite3_result_value(context, args[0]);
                       return;
                   }
                   auto* keys = static_cast<NameKeys*>(sqlite3_user_data(context));
                   const QByteArray key = keys->key(sqlite3_value_text(args[0]), sqlite3_value_bytes(args[0]));
                   sqlite3_result_blob(context, key.constData(), int(key.size()), SQLITE_TRANSIENT);
               },
               nullptr, nullptr, nullptr) == SQLITE_OK;
}

QString OrderByName(const QString& column, Dialect dialect)
{
    if (dialect == Dialect::SQLite)
        // NULL gives NULL, which SQLite puts first.
        return QLatin1String(kKeyFunction) + u'(' + column + u')';
    // A server puts NULL last of its own accord.
    return column + QStringLiteral(" COLLATE ") + QLatin1String(kCollation) + QStringLiteral(" NULLS FIRST");
}

} // namespace velmar
