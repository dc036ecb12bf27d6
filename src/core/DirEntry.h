#pragma once

#include <QString>
#include <cstdint>

// One entry of a folder listing, local or FTP. Sizes and times are 64-bit: files
// over 4 GiB and dates after 2038 are ordinary.
struct DirEntry {
    static constexpr std::uint32_t kFolder = 0x10;
    // A symbolic link (the reparse-point bit of the old records). With kFolder it
    // is a link to a folder: shown as a folder, never followed by a delete or a
    // recursive copy.
    static constexpr std::uint32_t kLink = 0x400;

    std::uint32_t attributes = 0; // bit 0x10: a folder
    std::int64_t creationTime = 0;
    std::int64_t accessTime = 0;
    std::int64_t lastWriteTime = 0; // seconds since 1970-01-01 00:00 UTC
    std::uint64_t size = 0;
    QString name;          // without a path
    bool dateOnly = false; // lastWriteTime is a calendar date (00:00 UTC), no time of day

    bool IsFolder() const { return (attributes & kFolder) != 0; }
    bool IsLink() const { return (attributes & kLink) != 0; }
};
