#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

namespace velmar {

// A label that acts on a click or, when it has the focus, on Space or Enter.
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// The about box: product name, version, rights line and comment from the executable's version
// information, filled each time it is shown. Without version information the design texts stay.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    // The version information is read from this file: the running program unless a test says otherwise.
    explicit AboutBox(QWidget* parent = nullptr, const QString& executablePath = QString());

public slots:
    void FormShow();
    void OKButtonClick();
    void CommentsClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_executablePath;
    QLabel* m_productName;
    QLabel* m_version;
    QLabel* m_copyright;
    ClickableLabel* m_comments;
    QPushButton* m_ok;
};

} // namespace velmar
