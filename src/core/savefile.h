#pragma once

#include <QSaveFile>
#include <QString>

namespace velmar {

// "Cannot write %s: %s": the file and the system's reason ("No space left on device").
QString CannotWriteMessage(const QString& path, const QString& reason);

// A QSaveFile that notices every failed write, also those QSaveFile lets pass (a short write, the
// flush of the last buffered bytes), so a truncated file never replaces the one that was there.
class CheckedSaveFile : public QSaveFile
{
public:
    explicit CheckedSaveFile(const QString& path) : QSaveFile(path) {}

    // For writing; false with CannotWriteMessage in *error.
    bool open(QString* error);
    // Renames the complete file over the target. On any failure, now or in an earlier write, the
    // temporary is removed, the target is left as it was, and *error says why.
    bool commit(QString* error);

protected:
    qint64 writeData(const char* data, qint64 len) override;

private:
    bool fail(const QString& reason, QString* error);

    QString m_failure;
};

} // namespace velmar
