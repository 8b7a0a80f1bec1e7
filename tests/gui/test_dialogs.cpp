#include "uitestsupport.h"

#include "gui/aboutbox.h"
#include "gui/datasetpicker.h"
#include "gui/filedialogs.h"
#include "gui/messageboxprompter.h"
#include "gui/windowplaces.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace velmar;
using namespace velmar::test;

namespace {

struct BoxSeen
{
    QString title;
    QString text;
    QList<QMessageBox::StandardButton> buttons;
};

// Records the next message box and answers it with the given button.
void answerNextBox(BoxSeen* seen, QMessageBox::StandardButton answer)
{
    onNextModal([seen, answer](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen->title = box->windowTitle();
        seen->text = box->text();
        for (QAbstractButton* b : box->buttons())
            seen->buttons.append(box->standardButton(b));
        QTest::mouseClick(box->button(answer), Qt::LeftButton);
    });
}

QString labelText(const QWidget& parent, const char* name)
{
    const auto* label = parent.findChild<QLabel*>(QString::fromUtf8(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromUtf8(name));
}

} // namespace

TEST(MessageBoxPrompter, CaptionAndButtonsFollowTheKindOfMessage)
{
    MessageBoxPrompter prompter;
    BoxSeen info;
    answerNextBox(&info, QMessageBox::Ok);
    prompter.information(QStringLiteral("Done <b>now</b>"));
    EXPECT_EQ(info.title, QStringLiteral("Velmar Payment System"));
    EXPECT_EQ(info.text, QStringLiteral("Done <b>now</b>"));
    EXPECT_EQ(info.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});

    BoxSeen error;
    answerNextBox(&error, QMessageBox::Ok);
    prompter.error(QStringLiteral("SQL Error: x"));
    EXPECT_EQ(error.title, QStringLiteral("Velmar Payment System"));
    EXPECT_EQ(error.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});

    BoxSeen yes;
    answerNextBox(&yes, QMessageBox::Yes);
    EXPECT_TRUE(prompter.question(QStringLiteral("02_2005 already exist - Overwrite?")));
    EXPECT_EQ(yes.title, QStringLiteral("Velmar Payment System"));
    EXPECT_EQ(yes.buttons.size(), 2);
    EXPECT_TRUE(yes.buttons.contains(QMessageBox::Yes));
    EXPECT_TRUE(yes.buttons.contains(QMessageBox::No));

    BoxSeen no;
    answerNextBox(&no, QMessageBox::No);
    EXPECT_FALSE(prompter.question(QStringLiteral("Send Pro Forma Invoices to ALL?")));

    // Enter must not overwrite, delete or send: No is the default.
    onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
    EXPECT_FALSE(prompter.question(QStringLiteral("02_2005 already exist - Overwrite?")));
}

TEST(MessageBoxPrompter, ARunsSummaryShowsItsDetailsInAWindowThatGrows)
{
    MessageBoxPrompter prompter;
    QSize before;
    QSize after;
    onNextModal([&](QWidget* w) {
        clickChild(w, "ShowDetails");
        EXPECT_TRUE(w->findChild<QPlainTextEdit*>(QStringLiteral("SummaryDetails"))->isVisible());
        before = w->size();
        w->resize(before + QSize(200, 150));
        after = w->size();
        QTest::keyClick(w, Qt::Key_Return);
    });
    prompter.summary(QStringLiteral("Sent 0 of 1: 1 failed"), QStringLiteral("Dr Hughes (1004): failed"), true);
    EXPECT_EQ(after, before + QSize(200, 150));
}

TEST(WindowPlaces, FittedToTheAvailableAreaWithTheTitleBarOnIt)
{
    const QRect area(0, 0, 800, 600);
    const QMargins frame(4, 30, 4, 4);
    const struct
    {
        QRect wanted;
        QSize minimum;
        QRect fitted;
    } cases[] = {
        {{100, 100, 300, 200}, {}, {100, 100, 300, 200}},  // fits: unchanged
        {{0, 0, 900, 1000}, {}, {4, 30, 792, 566}},        // the old preview
        {{700, 500, 300, 200}, {}, {496, 396, 300, 200}},  // off the bottom right
        {{-50, 0, 300, 200}, {}, {4, 30, 300, 200}},       // title bar above the top
        {{0, 0, 300, 200}, {900, 100}, {4, 30, 900, 200}}, // a minimum wider than the screen wins
    };
    for (const auto& c : cases)
        EXPECT_EQ(FittedGeometry(c.wanted, area, frame, c.minimum), c.fitted) << c.wanted.x() << "," << c.wanted.y();
}

TEST(DataSetPicker, KeyboardChoosesAndCancels)
{
    DataSetPicker picker;
    picker.setEntries({{QStringLiteral("one"), {}, 0, {}}, {QStringLiteral("two"), {}, 0, {}}});
    auto* lb = picker.findChild<QTreeWidget*>(QStringLiteral("lb"));
    ASSERT_NE(lb, nullptr);

    // The first entry is selected from the start: Enter alone takes it.
    onNextModal([lb](QWidget*) { QTest::keyClick(lb, Qt::Key_Return); });
    EXPECT_EQ(picker.exec(), QDialog::Accepted);
    QString chosen;
    ASSERT_TRUE(picker.selectedEntry(&chosen));
    EXPECT_EQ(chosen, QStringLiteral("one"));

    onNextModal([lb](QWidget*) {
        QTest::keyClick(lb, Qt::Key_Down);
        QTest::keyClick(lb, Qt::Key_Return);
    });
    EXPECT_EQ(picker.exec(), QDialog::Accepted);
    ASSERT_TRUE(picker.selectedEntry(&chosen));
    EXPECT_EQ(chosen, QStringLiteral("two"));

    onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(picker.exec(), QDialog::Rejected);
}

TEST(AboutBox, ShowsTheProgramsVersionInformation)
{
    AboutBox about(nullptr, QStringLiteral(VELMAR_BIN_DIR "/velmarpay"));
    about.show();
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Velmar Payment System"));
    EXPECT_EQ(labelText(about, "ProductName"), QStringLiteral("Velmar Payments System"));
    EXPECT_EQ(labelText(about, "Version"), QStringLiteral("Version: 1.0.6.1"));
    // The icon is built into the program from its SVG.
    EXPECT_FALSE(about.findChild<QLabel*>(QStringLiteral("ProgramIcon"))->pixmap().isNull());
    const QString copyright = labelText(about, "Copyright");
    EXPECT_TRUE(copyright.startsWith(QStringLiteral("Copyright: "))) << copyright.toStdString();
    EXPECT_GT(copyright.size(), 11);
    const QString comments = labelText(about, "Comments");
    EXPECT_TRUE(comments.startsWith(QStringLiteral("http"))) << comments.toStdString();

    // The comment is a link, by mouse and by keyboard.
    UrlCatcher catcher;
    auto* label = about.findChild<QLabel*>(QStringLiteral("Comments"));
    QTest::mouseClick(label, Qt::LeftButton);
    label->setFocus();
    QTest::keyClick(label, Qt::Key_Space);
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[0], QUrl(comments));
    EXPECT_EQ(catcher.urls[1], QUrl(comments));
}

TEST(AboutBox, WithoutVersionInformationKeepsTheDesignTexts)
{
    // The test program carries no version information.
    AboutBox about(nullptr, QCoreApplication::applicationFilePath());
    onNextModal([](QWidget* w) {
        EXPECT_EQ(w->objectName(), QStringLiteral("TAboutBox"));
        clickChild(w, "OKButton");
    });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Velmar Payment System"));
    EXPECT_EQ(labelText(about, "ProductName"), QStringLiteral("Product Name"));
    EXPECT_EQ(labelText(about, "Version"), QStringLiteral("Version "));
    EXPECT_EQ(labelText(about, "Copyright"), QStringLiteral("Copyright "));
    EXPECT_EQ(labelText(about, "Comments"), QStringLiteral("Comments."));
}

class FileDialogsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FileDialogs::reset();
        for (const char* name : {"a.pay", "B.PAY", "notes.txt", "sample.pay"}) {
            QFile f(m_dir.filePath(QString::fromUtf8(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }
    QTemporaryDir m_dir;
};

TEST_F(FileDialogsTest, OpenDialogShowsFilterTextsAndMatchesEitherCase)
{
    FileDialogRequest request;
    request.directory = m_dir.path();
    request.nameFilters = {QStringLiteral("Payment Files (*.pay) (*.pay *.PAY)"),
                           QStringLiteral("All Files (*.*) (*)")};
    request.defaultSuffix = QStringLiteral("pay");

    QStringList filterTexts;
    QStringList listed;
    onNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        for (int i = 0; i < types->count(); ++i)
            filterTexts.append(types->itemText(i));
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        waitUntil([&] { return view->model()->rowCount(view->rootIndex()) >= 3; });
        for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
            listed.append(view->model()->index(i, 0, view->rootIndex()).data().toString());
        // Typed without its extension: the default suffix completes it.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("sample"));
        static_cast<QDialog*>(dialog)->accept();
    });
    const QString chosen = FileDialogs::getOpenFileName(nullptr, request);
    EXPECT_EQ(filterTexts, (QStringList{QStringLiteral("Payment Files (*.pay)"), QStringLiteral("All Files (*.*)")}));
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("B.PAY"), QStringLiteral("a.pay"), QStringLiteral("sample.pay")}));
    EXPECT_EQ(QDir::cleanPath(chosen), QDir::cleanPath(m_dir.filePath(QStringLiteral("sample.pay"))));
}

TEST_F(FileDialogsTest, SaveDialogShowsAPlainFilterWhole)
{
    FileDialogRequest request;
    request.directory = m_dir.path();
    request.nameFilters = {QStringLiteral("Adobe PDF files (*.pdf)")};
    QStringList filterTexts;
    onNextModal([&](QWidget* w) {
        auto* types = w->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        for (int i = 0; i < types->count(); ++i)
            filterTexts.append(types->itemText(i));
        qobject_cast<QDialog*>(w)->reject();
    });
    EXPECT_EQ(FileDialogs::getSaveFileName(nullptr, request), QString());
    EXPECT_EQ(filterTexts, QStringList{QStringLiteral("Adobe PDF files (*.pdf)")});
}
