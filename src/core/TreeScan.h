#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// What a folder copy will copy, found before anything is made: a listing that
// fails, a tree too deep or one that leads back into itself then stops the copy
// before it has created a single folder.
namespace treescan {

// The copied folder is level 1; a folder below level 64 stops the copy.
inline constexpr int kMaxDepth = 64;

struct Item {
    QString relative; // below the copied folder, joined with "/"
    bool isFolder = false;
    std::uint64_t size = 0; // a file's listed size, for the totals; 0 where unknown
    bool sizeExact = false; // listed by MLSD, as exact as SIZE would tell it
};

enum class Stop { None, Unreadable, TooDeep, Cycle, Cancelled };

struct Result {
    std::vector<Item> items; // depth first, each folder before what it holds
    Stop stop = Stop::None;
    QString where; // the folder at which the scan stopped
    int skippedFolderLinks = 0;
    // Named pipes, sockets and devices, and links to them (relative, as items):
    // never opened, so never copied. The copy tells the user which.
    std::vector<QString> skippedSpecial;
};

// Folders whose names begin with "." are not copied; files of any name are.
bool IsHiddenFolderName(const QString& name);

// Scans a local folder. Links are never followed into: a link to a file is an item
// (its contents are copied), a link to a folder is left out, and so is anything
// that is not a regular file (skippedSpecial names it). A folder reached
// twice (the same device and inode, as through a bind mount) is a cycle.
// keepGoing is asked between folders; false ends the scan as Cancelled.
Result ScanLocal(const QString& root, const std::function<bool()>& keepGoing);

} // namespace treescan
