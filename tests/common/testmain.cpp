// One main for every test program: the Qt application object the code under test expects,
// and the C numeric locale that the program sets too.
#include "common/realpeers.h"

#include <gtest/gtest.h>

#ifdef VELMAR_GUI_TESTS
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

#include <clocale>

namespace {

// A PostgreSQL server a test started lives until the last test of the program has run.
class PeersEnvironment : public ::testing::Environment
{
public:
    void TearDown() override { velmar::test::PostgresServer::stopIfStarted(); }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
#ifdef VELMAR_GUI_TESTS
    // The windows keep their sizes in the user's settings: here a folder of the run's own.
    QTemporaryDir userSettings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userSettings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, userSettings.path());
#endif
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PeersEnvironment);
    return RUN_ALL_TESTS();
}
