#pragma once

#include <QString>

namespace velmar {

// Where the mail dialogue is traced: the main window's status bar, or the console of the CLI.
// Each call replaces the text shown before.
class MailStatus
{
public:
    virtual ~MailStatus() = default;
    virtual void showStatus(const QString& text) = 0;
};

} // namespace velmar
