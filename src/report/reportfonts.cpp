#include "report/reportfonts.h"

#include <QFontDatabase>
#include <QHash>

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

bool installed(const QString& family)
{
    return QFontDatabase::hasFamily(family);
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
