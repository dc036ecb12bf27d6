// Any bytes as a Profiles.dat, through the reader the program uses at start-up
// and in the Profiles dialog. The reader must never crash nor allocate what a
// length prefix merely claims (libFuzzer's -malloc_limit_mb catches that), and a
// list it did read must survive a save: written by SaveProfileList and read back
// by LoadProfileList, it must come back equal, profile by profile.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ProfileFile.h"

namespace {

// scripts/fuzz points VELMAR_FUZZ_TMP at a tmpfs folder where there is one
// (SaveProfileList syncs to disk on every call) and removes it afterwards, also
// when a finding ends this process before its destructors run.
QTemporaryDir& WorkDir() {
    static std::unique_ptr<QTemporaryDir> dir = [] {
        const QString parent = qEnvironmentVariable("VELMAR_FUZZ_TMP");
        if (parent.isEmpty())
            return std::make_unique<QTemporaryDir>();
        return std::make_unique<QTemporaryDir>(parent + QStringLiteral("/profile-XXXXXX"));
    }();
    return *dir;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_profile: %s\n", what);
        std::abort();
    }
}

bool WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QTemporaryDir& dir = WorkDir();
    Check(dir.isValid(), "no temporary folder");
    const QString input = dir.filePath(QStringLiteral("input.dat"));
    const QString saved = dir.filePath(QStringLiteral("Profiles.dat"));
    Check(WriteAll(input, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))),
          "cannot write the input file");

    const ProfileListLoad load = LoadProfileList(input);
    Check(load.opened, "the input file did not open");
    // An undamaged file holds exactly as many records as its count says.
    if (!load.damaged) {
        Check(size >= 4, "a file too short for its count read as undamaged");
        const std::int32_t count =
            std::int32_t(std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                         std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        Check(count > 0 && load.profiles.size() == std::size_t(count),
              "an undamaged file read a different number of records than its count");
    }
    if (load.profiles.empty())
        return 0;

    Check(SaveProfileList(saved, load.profiles), "the list read could not be saved");
    const ProfileListLoad again = LoadProfileList(saved);
    Check(again.opened && !again.damaged, "the saved list reads as damaged");
    Check(again.profiles.size() == load.profiles.size(), "the saved list lost profiles");
    for (std::size_t i = 0; i < load.profiles.size(); ++i)
        Check(again.profiles[i] == load.profiles[i], "a saved profile reads back different");
    return 0;
}
