// The main of every test program: a QApplication on the offscreen platform, the C
// locale, and the user's configuration folder moved into a fresh temporary folder
// for each test, so that no test sees another's settings.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "MessageBox.h"
#include "Registry.h"

namespace {
class IsolateSettings : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
        CRegKey::ClearFailures();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        SetMessageBoxHandler(nullptr);
        CRegKey::ClearFailures();
        m_dir.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("VELMAR_TEST_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new IsolateSettings);
    return RUN_ALL_TESTS();
}
