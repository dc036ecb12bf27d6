// The main of the core's and the protocol's test programs: no window system at
// all, as the core runs under the interface and beside it.
#include <QCoreApplication>

#include "TestEnvironment.h"

int main(int argc, char** argv) {
    testenv::UseCLocale();
    QCoreApplication app(argc, argv);
    return testenv::RunAllTests(argc, argv);
}
