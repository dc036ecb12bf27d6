#include "ProgressText.h"

#include <cmath>

namespace progress {

int Position(std::uint64_t blockIndex, std::uint64_t totalLength) {
    if (totalLength == 0 || (blockIndex + 1) * kBlockSize > totalLength)
        return 100;
    const double x = static_cast<double>((blockIndex + 1) * kBlockSize) /
                     static_cast<double>(totalLength) * 100.0;
    const double whole = std::floor(x);
    int position = static_cast<int>(whole);
    if (x - whole >= 0.5)
        ++position;
    return position;
}

QString BytesCopied(std::uint64_t copied, std::uint64_t total) {
    return QString::number(copied) + QStringLiteral(" of ") + QString::number(total);
}

QString BytesPerSecond(std::uint64_t copied, std::uint64_t elapsedSeconds) {
    return QString::number(elapsedSeconds == 0 ? 0 : copied / elapsedSeconds);
}

QString Elapsed(std::uint64_t elapsedSeconds) {
    const auto hours = static_cast<int>((elapsedSeconds / 3600) % 24);
    const auto minutes = static_cast<int>((elapsedSeconds / 60) % 60);
    const auto seconds = static_cast<int>(elapsedSeconds % 60);
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

} // namespace progress
