// The main of the test programs with widgets: a QApplication on the offscreen
// platform, and what the program's own layers keep between tests (the message
// box handler, the settings failures a test made up) reset after each.
#include <QApplication>

#include "MessageBox.h"
#include "Registry.h"
#include "TestEnvironment.h"

namespace {
class ResetInterfaceState : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override { CRegKey::ClearFailures(); }
    void OnTestEnd(const testing::TestInfo&) override {
        SetMessageBoxHandler(nullptr);
        CRegKey::ClearFailures();
    }
};
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("VELMAR_TEST_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testenv::UseCLocale();
    QApplication app(argc, argv);
    return testenv::RunAllTests(argc, argv, new ResetInterfaceState);
}
