#pragma once

#include <QDate>
#include <QDateTime>

namespace velmar {

// Where the program asks for the time ("today" of a new shift record, the e-mail Date header).
// The program runs on the system clock; a test installs a FixedClock for as long as it lives.
class Clock
{
public:
    virtual ~Clock() = default;

    // Local time with its offset from UTC.
    virtual QDateTime now() const { return QDateTime::currentDateTime(); }

    static const Clock& current() { return *slot(); }
    static QDateTime currentDateTime() { return current().now(); }
    static QDate today() { return current().now().date(); }

protected:
    static const Clock*& slot()
    {
        static const Clock system;
        static const Clock* installed = &system;
        return installed;
    }
};

// Replaces the clock until destroyed (tests only); nests, restoring the one it replaced.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime& at) : m_at(at), m_previous(slot()) { slot() = this; }
    ~FixedClock() override { slot() = m_previous; }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

    QDateTime now() const override { return m_at; }
    void set(const QDateTime& at) { m_at = at; }

private:
    QDateTime m_at;
    const Clock* m_previous;
};

} // namespace velmar
