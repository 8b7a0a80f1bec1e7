#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QTimer>

#include <functional>

namespace velmar {

// A send run's hold on its data set: a row of SendClaims naming the data set, the user, the host,
// the process, when the run started and when it last gave a sign of life. One run per data set,
// whichever process or PC it runs on; a run refreshes its sign of life while it holds the claim,
// also while it waits on the mail server.
class SendClaim
{
public:
    // How often the sign of life is refreshed, and how old it may grow before the run is taken to
    // have stopped.
    static constexpr int HeartbeatMs = 10000;
    static constexpr int StaleSeconds = 120;

    SendClaim();
    ~SendClaim();
    SendClaim(const SendClaim&) = delete;
    SendClaim& operator=(const SendClaim&) = delete;

    // Takes the claim on the data set, as one writer: a live run's claim refuses it ("02_2005 is
    // being sent from pc1 by clerk since 05/06/2025 14:03."). A claim whose run has stopped (no
    // sign of life for two minutes, or its process gone on this host) is taken over, and *notice
    // says so. *refusal also carries a database that cannot be written.
    // The claim is kept through db, which must not be inside a transaction of the run's.
    bool take(const QSqlDatabase& db, const QString& dataSet, QString* refusal, QString* notice);
    // Gives it up; does nothing when it is not held.
    void release();
    bool isHeld() const { return !m_token.isEmpty(); }
    QString token() const { return m_token; }
    // Told when a refresh finds that another run took the claim over: this run must stop.
    std::function<void(const QString& why)> lost;

private:
    void beat();

    QSqlDatabase m_db;
    QString m_dataSet;
    QString m_token;
    QTimer m_timer;
};

// Inside the caller's write transaction: the claim on the data set is still the one of `token`
// (and its sign of life is refreshed). False, saying so, once another run took it over.
bool ConfirmClaim(const QSqlDatabase& db, const QString& dataSet, const QString& token, QString* error);

// Whether a live run holds the data set's claim.
bool DataSetBeingSent(const QSqlDatabase& db, const QString& dataSet);

} // namespace velmar
