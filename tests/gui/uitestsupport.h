#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QListWidget>
#include <QObject>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QWidget>

#include "common/testsupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace velmar::test {

// Waits, processing events, until the condition holds or five seconds pass.
inline bool waitUntil(const std::function<bool()>& condition)
{
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Operates the next modal dialog: call this, then the code that shows the dialog. The action must
// close it; if it does not, the dialog is rejected so the test cannot hang. Looked for between
// events rather than waited for: the code may process events for a while before it asks.
inline void onNextModal(std::function<void(QWidget*)> action)
{
    QWidget* before = QApplication::activeModalWidget();
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, action, before, deadline = QDeadlineTimer(10000)] {
        QWidget* dialog = QApplication::activeModalWidget();
        if ((!dialog || dialog == before) && !deadline.hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        if (!dialog || dialog == before) {
            ADD_FAILURE() << "no modal dialog appeared";
            return;
        }
        action(dialog);
        if (QApplication::activeModalWidget() == dialog) {
            ADD_FAILURE() << "the dialog was left open";
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        }
    });
    poll->start(10);
}

// A user's double-click: press and release, then the second press. (QTest's double-click alone
// sends only the last event, which item views ignore without the press before it.)
inline void doubleClickItem(QListWidget* list, QListWidgetItem* item)
{
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

inline void doubleClickItem(QTreeWidget* tree, QTreeWidgetItem* item)
{
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

inline void clickChild(QWidget* parent, const char* name)
{
    auto* button = parent->findChild<QAbstractButton*>(QString::fromUtf8(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
}

// Catches what the program asks the desktop to open, instead of starting a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

} // namespace velmar::test
