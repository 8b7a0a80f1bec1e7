#include "gui/filedialogs.h"

#include "gui/windowplaces.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QSettings>

namespace velmar {

namespace {
struct Script
{
    QStringList answers;
    QList<FileDialogRequest> requests;
};

// Test seam state only; it carries nothing of the program's own.
Script& script()
{
    static Script s;
    return s;
}

// The dialog shows a filter's text up to its last pattern group and matches that group; a filter
// with a single group gets a copy of it, so its text is shown whole.
QString dialogFilter(const QString& filter)
{
    static const QRegularExpression twoGroups(QStringLiteral("\\([^()]*\\)\\s*\\([^()]*\\)$"));
    static const QRegularExpression oneGroup(QStringLiteral("\\([^()]*\\)$"));
    if (twoGroups.match(filter).hasMatch())
        return filter;
    const QRegularExpressionMatch m = oneGroup.match(filter);
    return m.hasMatch() ? filter + u' ' + m.captured(0) : filter;
}

QString run(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode)
{
    Script& s = script();
    if (!s.answers.isEmpty()) {
        s.requests.append(request);
        return s.answers.takeFirst();
    }

    QFileDialog dialog(parent, request.caption, request.directory);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const QString& filter : request.nameFilters)
        filters.append(dialogFilter(filter));
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
} // namespace

QString FileDialogs::getOpenFileName(QWidget* parent, const FileDialogRequest& request)
{
    return run(parent, request, QFileDialog::AcceptOpen);
}

QString FileDialogs::getSaveFileName(QWidget* parent, const FileDialogRequest& request)
{
    const QString lastFolder = QStringLiteral("FileDialogs/lastSaveFolder");
    FileDialogRequest offered = request;
    if (!request.proposedName.isEmpty()) {
        QString folder = UserWindowSettings()->value(lastFolder).toString();
        if (folder.isEmpty() || !QDir(folder).exists())
            folder = request.directory.isEmpty() ? QDir::homePath() : request.directory;
        offered.directory = QDir(folder).filePath(request.proposedName);
    }
    const QString path = run(parent, offered, QFileDialog::AcceptSave);
    if (!path.isEmpty())
        UserWindowSettings()->setValue(lastFolder, QFileInfo(path).absolutePath());
    return path;
}

void FileDialogs::setNextFileName(const QString& path)
{
    script().answers.append(path);
}

void FileDialogs::reset()
{
    script() = Script();
}

QList<FileDialogRequest> FileDialogs::requests()
{
    return script().requests;
}

} // namespace velmar
