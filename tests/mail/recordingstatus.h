#pragma once

#include "mail/mailstatus.h"

#include <QStringList>

#include <functional>

namespace velmar::test {

// Keeps every text the mail dialogue shows, in order; onLine sees each as it comes.
class RecordingStatus : public MailStatus
{
public:
    void showStatus(const QString& text) override
    {
        texts.append(text);
        if (onLine)
            onLine(text);
    }
    QStringList texts;
    std::function<void(const QString&)> onLine;
};

} // namespace velmar::test
