#pragma once

#include <QString>

namespace velmar {

// The application title: caption of the main window and of every message box.
inline QString applicationTitle()
{
    return QStringLiteral("Velmar Payment System");
}

// How the core talks to the user. The program shows message boxes; the CLI writes to stderr
// and answers questions from its flags; tests script the answers.
class Prompter
{
public:
    virtual ~Prompter() = default;
    virtual void information(const QString& text) = 0;
    virtual void error(const QString& text) = 0;
    // Yes/No question; true means Yes.
    virtual bool question(const QString& text) = 0;
    // The end of a long job: a short text, and a list to read through and copy. problems: not
    // everything went as asked.
    virtual void summary(const QString& text, const QString& details, bool problems)
    {
        const QString whole = details.isEmpty() ? text : text + QStringLiteral("\n\n") + details;
        problems ? error(whole) : information(whole);
    }
};

} // namespace velmar
