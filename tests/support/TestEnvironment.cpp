#include "TestEnvironment.h"

#include <QByteArray>
#include <QLocale>
#include <QTemporaryDir>
#include <memory>

namespace testenv {
namespace {
class IsolateSettings : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
    }
    void OnTestEnd(const testing::TestInfo&) override { m_dir.reset(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
} // namespace

void UseCLocale() {
    qputenv("LC_ALL", "C");
    QLocale::setDefault(QLocale::c());
}

int RunAllTests(int argc, char** argv, testing::TestEventListener* extra) {
    testing::InitGoogleTest(&argc, argv);
    // Listeners hear a test's end in the reverse order of its start.
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    listeners.Append(new IsolateSettings);
    if (extra)
        listeners.Append(extra);
    return RUN_ALL_TESTS();
}

} // namespace testenv
