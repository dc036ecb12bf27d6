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

QString BytesPerSecond(std::uint64_t copied, std::chrono::nanoseconds elapsed) {
    const auto ns = elapsed.count();
    if (ns <= 0)
        return QStringLiteral("0");
    // 128 bits: a terabyte times a nanosecond count does not fit in 64.
    const unsigned __int128 rate =
        static_cast<unsigned __int128>(copied) * 1000000000u / static_cast<std::uint64_t>(ns);
    return QString::number(static_cast<std::uint64_t>(rate));
}

QString TimeLeft(std::uint64_t copied, std::uint64_t total, std::chrono::nanoseconds elapsed) {
    const auto ns = elapsed.count();
    if (copied == 0 || ns <= 0)
        return QString();
    const std::uint64_t remaining = total > copied ? total - copied : 0;
    const unsigned __int128 perSecond = static_cast<unsigned __int128>(copied) * 1000000000u;
    const unsigned __int128 scaled =
        static_cast<unsigned __int128>(remaining) * static_cast<std::uint64_t>(ns);
    // To the nearest second: a file's last few bytes, which make no whole block,
    // must not leave "00:00:01" standing once it is done.
    const auto seconds = static_cast<std::uint64_t>((scaled + perSecond / 2) / perSecond);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
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
