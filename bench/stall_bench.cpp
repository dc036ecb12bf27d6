// The interface thread's longest stall while the program does each of its long
// FTP operations at full size: the largest lateness of a 10 ms timer on that
// thread. One line per operation; the goal is 50 ms for each.
//
// usage: stall_bench [case ...]   (cases: transfers folder-copy silent-connect
//                                   stalled-data listing delete-tree; default all)
#include <QApplication>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>

#include "StallCases.h"

namespace {
constexpr double kGoalMs = 50;
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    // The program's settings go to a folder of their own, not the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QStringList wanted = app.arguments().mid(1);
    const stall::Sizes sizes = stall::BenchSizes();
    int failed = 0;
    std::printf("%-48s %14s %14s %8s\n", "operation", "longest stall", "operation", "goal");
    for (const stall::Case& c : stall::Cases()) {
        if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(c.name)))
            continue;
        for (const stall::Outcome& out : c.run(sizes)) {
            const char* verdict = !out.done               ? "  (did not complete)"
                                  : out.stallMs > kGoalMs ? "  over the goal"
                                                          : "";
            std::printf("%-48s %11.1f ms %11lld ms %5.0f ms%s\n", out.name.toUtf8().constData(),
                        out.stallMs, static_cast<long long>(out.operationMs), kGoalMs, verdict);
            if (!out.done) {
                std::fprintf(stderr, "stall_bench: %s: %s\n", out.name.toUtf8().constData(),
                             out.detail.toUtf8().constData());
                ++failed;
            }
            std::fflush(stdout);
        }
    }
    return failed == 0 ? 0 : 1;
}
