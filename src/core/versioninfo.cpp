#include "core/versioninfo.h"

#include <QFile>

namespace velmar {

namespace {
// A block larger than this is not ours: the search goes on past a stray marker.
constexpr qsizetype kMaxBlockSize = 64 * 1024;
} // namespace

QByteArray VersionBlockMarker()
{
    // This copy of the marker, in every program that links the reader, is followed at once by its
    // NUL: an empty block, which does not count.
    return QByteArrayLiteral("#VELMAR-VERSION-INFO#\n");
}

bool VersionInfo::load(const QString& executablePath)
{
    m_values.clear();
    QFile file(executablePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Mapping spares reading a large executable into memory.
    uchar* mapped = file.map(0, file.size());
    QByteArray contents;
    if (mapped)
        contents = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), file.size());
    else
        contents = file.readAll();

    const QByteArray marker = VersionBlockMarker();
    qsizetype at = 0;
    while ((at = contents.indexOf(marker, at)) >= 0) {
        const qsizetype start = at + marker.size();
        const qsizetype end = contents.indexOf('\0', start);
        if (end >= 0 && end - start <= kMaxBlockSize && parse(contents.mid(start, end - start)))
            return true;
        at = start;
    }
    return false;
}

bool VersionInfo::parse(const QByteArray& body)
{
    m_values.clear();
    const QString text = QString::fromUtf8(body);
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const int eq = line.indexOf(u'=');
        if (!line.startsWith(u'\\') || eq < 0) {
            m_values.clear();
            return false;
        }
        m_values.insert(line.left(eq).toLower(), line.mid(eq + 1));
    }
    return !m_values.isEmpty();
}

bool VersionInfo::query(const QString& path, QString* value) const
{
    const auto it = m_values.constFind(path.toLower());
    if (it == m_values.constEnd())
        return false;
    *value = it.value();
    return true;
}

QList<VersionTranslation> VersionInfo::translations() const
{
    QList<VersionTranslation> result;
    QString text;
    if (!query(QStringLiteral("\\VarFileInfo\\Translation"), &text))
        return result;
    for (const QString& pair : text.split(u' ', Qt::SkipEmptyParts)) {
        bool okLanguage = false;
        bool okCodePage = false;
        const uint language = pair.left(4).toUInt(&okLanguage, 16);
        const uint codePage = pair.mid(4).toUInt(&okCodePage, 16);
        if (pair.size() != 8 || !okLanguage || !okCodePage)
            break;
        result.append({quint16(language), quint16(codePage)});
    }
    return result;
}

} // namespace velmar
