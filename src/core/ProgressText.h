#pragma once

#include <QString>
#include <chrono>
#include <cstdint>

// The numbers and texts of the status window, kept free of widgets so that they
// can be checked on their own. A "block" is the 1000-byte unit in which progress,
// the texts and cancellation are counted, whatever size the data moves in.
namespace progress {

inline constexpr std::uint64_t kBlockSize = 1000;

// Position of the progress bar (0..100) once block blockIndex (0 for the first)
// of a file of totalLength bytes is done: (block + 1) * 1000 / total * 100 in
// double precision, rounded to nearest with halves upward. A block past the
// listed length (the file grew, or was not listed) keeps the bar full.
int Position(std::uint64_t blockIndex, std::uint64_t totalLength);

// "2000 of 2500"
QString BytesCopied(std::uint64_t copied, std::uint64_t total);
// Whole bytes per whole second; "0" within the first second.
QString BytesPerSecond(std::uint64_t copied, std::uint64_t elapsedSeconds);
// Whole bytes per second over the time actually taken, so that the first block
// already shows the real rate; "0" only when no time at all has passed.
QString BytesPerSecond(std::uint64_t copied, std::chrono::nanoseconds elapsed);
// "HH:MM:SS"; hours count within a day, so 25 hours read "01:00:00".
QString Elapsed(std::uint64_t elapsedSeconds);
// The time the rest of the file takes at the rate so far, "HH:MM:SS" to the
// nearest second, halves up. Hours are not wrapped: a long transfer reads
// "30:00:00". Empty while nothing is known (no byte or no time yet); "00:00:00"
// once the listed length is reached.
QString TimeLeft(std::uint64_t copied, std::uint64_t total, std::chrono::nanoseconds elapsed);

} // namespace progress
