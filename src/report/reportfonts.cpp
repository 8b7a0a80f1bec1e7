#include "report/reportfonts.h"

#include <QFontDatabase>
#include <QHash>
#include <QMutex>

namespace velmar {

namespace {

QString metricFamily(const QString& family)
{
    static const QHash<QString, QString> table = {
        {QStringLiteral("arial"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("helvetica"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("times new roman"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("times"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("courier new"), QStringLiteral("Liberation Mono")},
        {QStringLiteral("courier"), QStringLiteral("Liberation Mono")},
    };
    return table.value(family.trimmed().toLower(), family);
}

// Asking the font database costs a fontconfig substitution each time, and each PDF file's painter
// asks again for every font it uses; the answer is kept for the run of the program.
bool installed(const QString& family)
{
    static QMutex mutex;
    static QHash<QString, bool> known;
    const QMutexLocker lock(&mutex);
    const auto it = known.constFind(family);
    if (it != known.constEnd())
        return *it;
    const bool has = QFontDatabase::hasFamily(family);
    known.insert(family, has);
    return has;
}

} // namespace

bool ReportFontMap::add(const QString& entry)
{
    const QStringList parts = entry.split(u':');
    if (parts.size() < 2 || parts.first().trimmed().isEmpty())
        return false;
    if (m_entries.contains(entry, Qt::CaseInsensitive))
        return false;
    m_entries.append(entry);
    return true;
}

QString ReportFontMap::resolve(const QString& family) const
{
    for (const QString& entry : m_entries) {
        const QStringList parts = entry.split(u':');
        if (parts.first().trimmed().compare(family, Qt::CaseInsensitive) != 0)
            continue;
        for (int i = 1; i < parts.size(); ++i) {
            const QString candidate = metricFamily(parts.at(i));
            if (installed(candidate))
                return candidate;
        }
    }
    return metricFamily(family);
}

} // namespace velmar
