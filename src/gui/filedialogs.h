#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace velmar {

// What a window asks of a file dialog.
struct FileDialogRequest
{
    QString caption;
    QString directory;
    // Each filter reads "Text (*.ext)"; an optional second pattern group, as in
    // "Payment Files (*.pay) (*.pay *.PAY)", is the one matched, while the text is what the user sees.
    QStringList nameFilters;
    QString defaultSuffix;
};

// Open and save dialogs behind a seam: a test queues the answers of the next dialogs (an empty
// answer is a cancelled dialog); those dialogs are not shown and their requests are recorded.
class FileDialogs
{
public:
    // The chosen path, or an empty text when the user cancels. Open: the file must exist.
    static QString getOpenFileName(QWidget* parent, const FileDialogRequest& request);
    // Save: asks before overwriting an existing file.
    static QString getSaveFileName(QWidget* parent, const FileDialogRequest& request);

    static void setNextFileName(const QString& path);
    // Forgets queued answers and recorded requests.
    static void reset();
    // The requests answered from the queue, oldest first.
    static QList<FileDialogRequest> requests();
};

} // namespace velmar
