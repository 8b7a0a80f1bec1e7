#pragma once

#include "documents/batchprint.h"
#include "mail/mailstatus.h"
#include "sending/paymentsender.h"

#include <QTextStream>

namespace velmar::cli {

// The mail dialogue line by line, as the program's status bar shows it in turn (--verbose).
class ConsoleStatus : public MailStatus
{
public:
    explicit ConsoleStatus(QTextStream& out) : m_out(out) {}
    void showStatus(const QString& text) override { m_out << text << Qt::endl; }

private:
    QTextStream& m_out;
};

// The progress window's percentages as lines.
class LineProgress : public ProgressDisplay
{
public:
    explicit LineProgress(QTextStream& out) : m_out(out) {}
    void SetProgressRange(int low, int high) override
    {
        m_low = low;
        m_high = high;
    }
    void SetProgressPosition(int position) override
    {
        m_out << "progress " << ProgressPercentText(m_low, m_high, position) << Qt::endl;
    }
    void showProgress() override {}
    void hideProgress() override {}

private:
    QTextStream& m_out;
    int m_low = 0;
    int m_high = 0;
};

} // namespace velmar::cli
