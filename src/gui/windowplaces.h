#pragma once

#include <QHash>
#include <QObject>
#include <QScopeGuard>
#include <QString>

#include <memory>

class QHeaderView;
class QMargins;
class QRect;
class QSize;
class QSettings;
class QWidget;

namespace velmar {

// The user's own settings of the windows (sizes, places, column widths): QSettings in the
// platform's per-user place (~/.config/velmarpay/windows.conf on Linux), never the program's ini.
std::unique_ptr<QSettings> UserWindowSettings();

// The window within the available area of its screen (the desktop less task bars): no larger
// than it, and moved onto it, title bar included.
void FitToScreen(QWidget* window);
// A window's geometry (inside its frame) fitted with its frame into an area; pure geometry.
QRect FittedGeometry(const QRect& geometry, const QRect& available, const QMargins& frame, const QSize& minimum);

// Puts a window over the middle of the one it belongs to (its parent's), or of the screen when that
// one is not shown.
void CentreOnOwner(QWidget* window);

// Keeps a window's size and place between runs, by its object name: the last ones are restored
// the first time it shows (a window without any, that nobody placed, opens over its owner), and
// every show fits it to the screen it is on.
void RememberWindowPlace(QWidget* window);

// The widths the user gave a grid's columns, by column title, kept between runs (written when the
// grid's window hides). Widths the program sets are not the user's and are not kept.
class ColumnWidths : public QObject
{
    Q_OBJECT
public:
    // key: where the widths are kept ("TDetail/DBGrid1"). The header's model is the grid's for good.
    ColumnWidths(QHeaderView* header, const QString& key);
    // The user's width of a column, or 0 when he has set none.
    int userWidth(const QString& title) const { return m_widths.value(title); }
    // While the returned guard lives, width changes are the program's (filling, hiding, fitting).
    [[nodiscard]] auto programChanges()
    {
        ++m_programSets;
        return qScopeGuard([this] { --m_programSets; });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sectionResized(int column, int oldWidth, int newWidth);

    QHeaderView* m_header;
    QString m_key;
    QHash<QString, int> m_widths;
    int m_programSets = 0;
    bool m_changed = false;
};

} // namespace velmar
