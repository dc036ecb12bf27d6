#pragma once

#include <QString>
#include <cstdint>

#include "DirEntry.h"
#include "PathRules.h"

class CVelmarApp;

// The four orders of the Sort By menu. With no sort flag set, the keys are those
// of the sort by name.
enum class ListSort { Name, Extension, Size, Date };

ListSort CurrentListSort(const CVelmarApp& app);

// Width of the number put in front of a size or date key. Sizes and times are
// 64-bit; a narrower field would let an 11-digit size sort before a 10-digit one.
constexpr int kKeyNumberWidth = 20;

// The sort key of an entry: "0" for a folder or "1" for a file, then the number
// field for size or date, then the name (by extension: extension, ".", the rest).
// A date-only entry sorts at the local start of its day, so that it stands among
// the timed entries of the same shown date.
QString ListSortKey(const DirEntry& entry, ListSort sort);

// Every entry is shown but "." and "..", which name the folder and its parent:
// a name that begins with "." may be a leftover of a copy that was cut short,
// which the user must be able to see and delete.
inline bool IsShownName(const QString& name) {
    return pathrules::IsPathElement(name);
}

// "1,234,567,890": commas every three digits, no unit.
QString FormatListSize(std::uint64_t bytes);

// "3/7/98 9:05 AM" in local time; empty for a time the system cannot convert.
// With dateOnly, time is a calendar date (00:00 UTC of that day) and shows as
// that date alone ("3/7/98"), the same in every time zone: a date without a time
// has no zone to convert from.
QString FormatListModified(std::int64_t time, bool dateOnly = false);
QString FormatListModified(const DirEntry& entry);

// A name the user typed for a new or renamed item (the rule of both panes).
inline bool IsValidItemName(const QString& name) {
    return pathrules::IsValidNewName(name);
}
