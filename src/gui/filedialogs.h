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
    // Save dialogs: the file name offered, in the folder the last file was saved to.
    QString proposedName;
};

// Open and save dialogs behind a seam: a test queues the answers of the next dialogs (an empty
// answer is a cancelled dialog); those dialogs are not shown and their requests are recorded, with
// the path a save dialog would have offered as its directory.
class FileDialogs
{
public:
    // The chosen path, or an empty text when the user cancels. Open: the file must exist.
    static QString getOpenFileName(QWidget* parent, const FileDialogRequest& request);
    // Save: asks before overwriting an existing file. The folder of the file chosen is kept in the
    // user's settings for the next save.
    static QString getSaveFileName(QWidget* parent, const FileDialogRequest& request);

    static void setNextFileName(const QString& path);
    // Forgets queued answers and recorded requests.
    static void reset();
    // The requests answered from the queue, oldest first.
    static QList<FileDialogRequest> requests();
};

} // namespace velmar
