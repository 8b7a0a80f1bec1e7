#include "db/nameorder.h"

#include "db/sqlitehandle.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include <sqlite3.h>

namespace velmar {

namespace {

constexpr char kCollation[] = "NAMEORDER";

// Case is left to the collator; accents are taken off first, as the collator would only rank them
// after the letters rather than ignore them.
QString withoutAccents(const QString& name)
{
    const QString decomposed = name.normalized(QString::NormalizationForm_D);
    QString bare;
    bare.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            bare += c;
    return bare;
}

QCollator nameCollator()
{
    QCollator collator(QLocale(QLocale::English, QLocale::UnitedKingdom));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Sort keys of the names met so far: a summary sorts 100,000 rows over a few thousand names.
class NameKeys
{
public:
    int compare(const void* a, int aSize, const void* b, int bSize) { return key(a, aSize).compare(key(b, bSize)); }

private:
    const QCollatorSortKey& key(const void* text, int size)
    {
        const QByteArray bytes = QByteArray::fromRawData(static_cast<const char*>(text), size);
        auto it = m_keys.constFind(bytes);
        if (it != m_keys.constEnd())
            return *it;
        if (m_keys.size() > 100000)
            m_keys.clear();
        const QString name = QString::fromUtf8(bytes);
        return *m_keys.emplace(QByteArray(bytes.constData(), bytes.size()), m_collator.sortKey(withoutAccents(name)));
    }

    QCollator m_collator = nameCollator();
    QHash<QByteArray, QCollatorSortKey> m_keys;
};

} // namespace

bool RegisterNameOrder(const QSqlDatabase& db)
{
    sqlite3* handle = SqliteHandle(db);
    if (!handle)
        return false;
    auto* keys = new NameKeys;
    const int rc = sqlite3_create_collation_v2(
        handle, kCollation, SQLITE_UTF8, keys,
        [](void* arg, int aSize, const void* a, int bSize, const void* b) {
            return static_cast<NameKeys*>(arg)->compare(a, aSize, b, bSize);
        },
        [](void* arg) { delete static_cast<NameKeys*>(arg); });
    // A failed registration leaves the keys to us.
    if (rc != SQLITE_OK)
        delete keys;
    return rc == SQLITE_OK;
}

QString OrderByName(const QString& column)
{
    return column + QStringLiteral(" COLLATE ") + QLatin1String(kCollation);
}

} // namespace velmar
