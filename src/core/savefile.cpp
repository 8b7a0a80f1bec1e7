#include "core/savefile.h"

#include <cerrno>
#include <cstring>

namespace velmar {

namespace {

// The reason of the last failed system call, or Qt's when there is none.
QString systemReason(int code, const QFileDevice& file)
{
    return code != 0 ? QString::fromLocal8Bit(std::strerror(code)) : file.errorString();
}

} // namespace

QString CannotWriteMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("Cannot write %1: %2").arg(path, reason);
}

bool CheckedSaveFile::open(QString* error)
{
    if (QSaveFile::open(QIODevice::WriteOnly))
        return true;
    if (error)
        *error = CannotWriteMessage(fileName(), errorString());
    return false;
}

qint64 CheckedSaveFile::writeData(const char* data, qint64 len)
{
    if (!m_failure.isEmpty())
        return -1;
    errno = 0;
    const qint64 written = QSaveFile::writeData(data, len);
    if (written != len) {
        m_failure = systemReason(errno, *this);
        return -1;
    }
    return written;
}

bool CheckedSaveFile::commit(QString* error)
{
    if (!m_failure.isEmpty())
        return fail(m_failure, error);
    if (QSaveFile::error() != QFileDevice::NoError)
        return fail(errorString(), error);
    // QSaveFile::commit flushes too, but renames the truncated file over the good one when that
    // flush fails; the reason is then only in errno.
    errno = 0;
    if (!flush())
        return fail(systemReason(errno, *this), error);
    if (!QSaveFile::commit()) {
        if (error)
            *error = CannotWriteMessage(fileName(), errorString());
        return false;
    }
    return true;
}

bool CheckedSaveFile::fail(const QString& reason, QString* error)
{
    if (error)
        *error = CannotWriteMessage(fileName(), reason);
    cancelWriting();
    return false;
}

} // namespace velmar
