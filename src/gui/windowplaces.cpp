#include "gui/windowplaces.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace velmar {

namespace {

QString geometryKey(const QWidget* window)
{
    return window->objectName() + QStringLiteral("/geometry");
}

// Saves the place when the window hides; restores it at its first show and fits it to the screen
// at every show.
class PlaceKeeper : public QObject
{
public:
    explicit PlaceKeeper(QWidget* window) : QObject(window), m_window(window) { window->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window)
            return false;
        if (event->type() == QEvent::Show && !m_restored) {
            m_restored = true;
            const QByteArray saved = UserWindowSettings()->value(geometryKey(m_window)).toByteArray();
            if (!saved.isEmpty())
                m_window->restoreGeometry(saved);
            else if (!m_window->testAttribute(Qt::WA_Moved))
                CentreOnOwner(m_window);
        }
        if (event->type() == QEvent::Show)
            FitToScreen(m_window);
        if (event->type() == QEvent::Hide && !event->spontaneous())
            UserWindowSettings()->setValue(geometryKey(m_window), m_window->saveGeometry());
        return false;
    }

private:
    QWidget* m_window;
    bool m_restored = false;
};

} // namespace

std::unique_ptr<QSettings> UserWindowSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("velmarpay"),
                                       QStringLiteral("windows"));
}

QRect FittedGeometry(const QRect& geometry, const QRect& available, const QMargins& frame, const QSize& minimum)
{
    // The frame, title bar included, has to be on the screen too: the window is moved by it.
    const QRect room = available.marginsRemoved(frame);
    QRect fitted = geometry;
    fitted.setWidth(qMax(minimum.width(), qMin(geometry.width(), room.width())));
    fitted.setHeight(qMax(minimum.height(), qMin(geometry.height(), room.height())));
    fitted.moveTo(qMax(room.left(), qMin(geometry.left(), room.right() + 1 - fitted.width())),
                  qMax(room.top(), qMin(geometry.top(), room.bottom() + 1 - fitted.height())));
    return fitted;
}

void FitToScreen(QWidget* window)
{
    const QScreen* screen = QGuiApplication::screenAt(window->geometry().center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return;
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                   outer.bottom() - inner.bottom());
    // Before the window system has framed the window its frame is not known: allow for a usual one.
    if (frame.isNull()) {
        const int border = 8;
        frame = QMargins(border, window->fontMetrics().height() + 2 * border, border, border);
    }
    const QRect fitted = FittedGeometry(inner, screen->availableGeometry(), frame, window->minimumSize());
    if (fitted != inner)
        window->setGeometry(fitted);
}

void CentreOnOwner(QWidget* window)
{
    const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    QRect placed = window->geometry();
    if (owner && owner->isVisible())
        placed.moveCenter(owner->geometry().center());
    else if (const QScreen* screen = window->screen())
        placed.moveCenter(screen->availableGeometry().center());
    else
        return;
    window->setGeometry(placed);
}

void RememberWindowPlace(QWidget* window)
{
    new PlaceKeeper(window);
}

ColumnWidths::ColumnWidths(QHeaderView* header, const QString& key) : QObject(header), m_header(header), m_key(key)
{
    const auto settings = UserWindowSettings();
    settings->beginGroup(key);
    for (const QString& title : settings->childKeys())
        m_widths.insert(title, settings->value(title).toInt());
    connect(header, &QHeaderView::sectionResized, this, &ColumnWidths::sectionResized);
    header->window()->installEventFilter(this);
    // New rows lay the sections out afresh: the program's doing too.
    if (const QAbstractItemModel* model = header->model()) {
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { ++m_programSets; });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { --m_programSets; });
    }
}

bool ColumnWidths::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_header->window() && event->type() == QEvent::Hide && m_changed) {
        m_changed = false;
        const auto settings = UserWindowSettings();
        settings->beginGroup(m_key);
        for (auto it = m_widths.cbegin(); it != m_widths.cend(); ++it)
            settings->setValue(it.key(), it.value());
    }
    return false;
}

void ColumnWidths::sectionResized(int column, int, int newWidth)
{
    // A hidden column has width 0; that is no choice of the user's either.
    if (m_programSets > 0 || newWidth <= 0 || m_header->isSectionHidden(column) || !m_header->model())
        return;
    const QString title = m_header->model()->headerData(column, m_header->orientation()).toString();
    if (title.isEmpty())
        return;
    m_widths.insert(title, newWidth);
    m_changed = true;
}

} // namespace velmar
