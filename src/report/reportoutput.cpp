#include "report/reportoutput.h"

#include "report/pdfexportfilter.h"
#include "report/report.h"
#include "report/reportrecording.h"

#include <QDir>
#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThreadPool>

namespace velmar {

bool PdfFileOutput::print(Report& report, QString* error)
{
    if (!WriteReportPdf(report, m_path, error))
        return false;
    ++m_written;
    return true;
}

QString PdfFolderOutput::safeFileName(const QString& name)
{
    QString safe;
    for (const QChar c : name)
        safe += (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control) ? QChar(u'_') : c;
    safe = safe.trimmed();
    if (safe.isEmpty() || safe == u"." || safe == u"..")
        safe = QStringLiteral("document");
    return safe;
}

struct PdfFolderOutput::Background
{
    explicit Background(int threads) : pending(threads * 2) { pool.setMaxThreadCount(threads); }
    QThreadPool pool;
    // Bounds the laid-out reports waiting for a thread.
    QSemaphore pending;
    QMutex mutex;
    QStringList errors;
};

PdfFolderOutput::PdfFolderOutput(const QString& folder, int threads)
    : m_folder(folder), m_background(threads > 1 ? std::make_unique<Background>(threads) : nullptr)
{
}

PdfFolderOutput::~PdfFolderOutput()
{
    if (m_background)
        m_background->pool.waitForDone();
}

bool PdfFolderOutput::print(Report& report, QString* error)
{
    const QString base = safeFileName(report.documentName());
    QString name = base + QStringLiteral(".pdf");
    for (int n = 2; m_files.contains(name, Qt::CaseInsensitive); ++n)
        name = QStringLiteral("%1_%2.pdf").arg(base, QString::number(n));
    const QString path = QDir(m_folder).filePath(name);
    if (!m_background) {
        if (!WriteReportPdf(report, path, error))
            return false;
        m_files.append(name);
        return true;
    }
    auto recording = std::make_shared<ReportRecording>();
    if (!ReportRecording::record(report, recording.get(), error))
        return false;
    m_files.append(name);
    Background* background = m_background.get();
    background->pending.acquire();
    background->pool.start([background, recording, path] {
        QString failure;
        if (!WriteRecordingPdf(*recording, path, &failure)) {
            const QMutexLocker lock(&background->mutex);
            background->errors.append(failure);
        }
        background->pending.release();
    });
    return true;
}

bool PdfFolderOutput::finish(QStringList* errors)
{
    if (!m_background)
        return true;
    m_background->pool.waitForDone();
    const QMutexLocker lock(&m_background->mutex);
    if (errors)
        *errors = m_background->errors;
    const bool ok = m_background->errors.isEmpty();
    m_background->errors.clear();
    return ok;
}

} // namespace velmar
