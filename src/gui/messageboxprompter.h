#pragma once

#include "core/prompter.h"

#include <QPointer>
#include <QWidget>

namespace velmar {

// The window a dialog belongs to: the one that asked for it, which is the open modal dialog or else
// the active window; the fallback when there is neither. A dialog parented elsewhere would bring
// that other window to the front when it closes.
QWidget* AskingWindow(QWidget* fallback);

// The program's prompter: modal message boxes captioned with the application title, OK only for
// information and errors, Yes and No for questions (No the default: Enter must not overwrite or
// delete). Each box belongs to the window that asked.
class MessageBoxPrompter : public Prompter
{
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    // The window the boxes belong to when no window of the program is active.
    void setParentWidget(QWidget* parent) { m_parent = parent; }

    void information(const QString& text) override;
    void error(const QString& text) override;
    bool question(const QString& text) override;
    // The details behind "Show Details...", where they can be selected and copied.
    void summary(const QString& text, const QString& details, bool problems) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace velmar
