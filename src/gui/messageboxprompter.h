#pragma once

#include "core/prompter.h"

#include <QPointer>
#include <QWidget>

namespace velmar {

// The program's prompter: modal message boxes captioned with the application title, OK only for
// information and errors, Yes and No for questions.
class MessageBoxPrompter : public Prompter
{
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    // The boxes are centred on this window once it exists.
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
