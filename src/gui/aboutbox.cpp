#include "gui/aboutbox.h"

#include "core/prompter.h"
#include "core/versioninfo.h"
#include "gui/programicon.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

namespace velmar {

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void ClickableLabel::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit clicked();
        break;
    default:
        QLabel::keyPressEvent(event);
    }
}

namespace {
QLabel* labelWithPixelSize(const QString& name, const QString& text, int pixelSize, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    if (pixelSize > 0) {
        QFont font = label->font();
        font.setPixelSize(pixelSize);
        label->setFont(font);
    }
    return label;
}
} // namespace

AboutBox::AboutBox(QWidget* parent, const QString& executablePath)
    : QDialog(parent),
      m_executablePath(executablePath.isEmpty() ? QCoreApplication::applicationFilePath() : executablePath)
{
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("About"));

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);

    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setFixedSize(41, 33);
    icon->setScaledContents(true);
    icon->setPixmap(programIcon().pixmap(64, 64));

    m_productName = labelWithPixelSize(QStringLiteral("ProductName"), QStringLiteral("Product Name"), 16, panel);
    m_version = labelWithPixelSize(QStringLiteral("Version"), QStringLiteral("Version "), 13, panel);
    m_copyright = labelWithPixelSize(QStringLiteral("Copyright"), QStringLiteral("Copyright "), 0, panel);

    m_comments = new ClickableLabel(QStringLiteral("Comments."), panel);
    m_comments->setObjectName(QStringLiteral("Comments"));
    m_comments->setWordWrap(true);
    m_comments->setMinimumSize(201, 25);
    m_comments->setFocusPolicy(Qt::StrongFocus);
    m_comments->setCursor(Qt::PointingHandCursor);
    QFont commentsFont = m_comments->font();
    commentsFont.setPixelSize(11);
    commentsFont.setUnderline(true);
    m_comments->setFont(commentsFont);
    QPalette palette = m_comments->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    m_comments->setPalette(palette);
    connect(m_comments, &ClickableLabel::clicked, this, &AboutBox::CommentsClick);

    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(14, 14, 14, 14);
    grid->setHorizontalSpacing(8);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(m_productName, 0, 1);
    grid->addWidget(m_version, 1, 1);
    grid->setRowMinimumHeight(2, 16);
    grid->addWidget(m_copyright, 3, 1);
    grid->addWidget(m_comments, 4, 1);
    grid->setColumnStretch(1, 1);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &AboutBox::OKButtonClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addWidget(m_ok, 0, Qt::AlignHCenter);
    // Fixed size, yet always large enough for its texts.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    m_ok->setFocus();
}

void AboutBox::FormShow()
{
    setWindowTitle(QStringLiteral("About ") + applicationTitle());
    VersionInfo info;
    if (!info.load(m_executablePath))
        return;
    const QList<VersionTranslation> translations = info.translations();
    if (translations.isEmpty())
        return;
    const QString key =
        QString::asprintf("%04x%04x", translations.constFirst().language, translations.constFirst().codePage).toUpper();
    const QString base = QStringLiteral("\\StringFileInfo\\") + key;
    QString value;
    if (info.query(base + QStringLiteral("\\ProductName"), &value))
        m_productName->setText(value);
    if (info.query(base + QStringLiteral("\\FileVersion"), &value))
        m_version->setText(QStringLiteral("Version: ") + value);
    if (info.query(base + QStringLiteral("\\LegalCopyright"), &value))
        m_copyright->setText(QStringLiteral("Copyright: ") + value);
    if (info.query(base + QStringLiteral("\\Comments"), &value))
        m_comments->setText(value);
}

void AboutBox::OKButtonClick()
{
    accept();
}

void AboutBox::CommentsClick()
{
    const QUrl url = QUrl::fromUserInput(m_comments->text());
    if (!QDesktopServices::openUrl(url))
        QMessageBox::critical(this, applicationTitle(), QStringLiteral("Could not open %1").arg(url.toString()));
}

} // namespace velmar
