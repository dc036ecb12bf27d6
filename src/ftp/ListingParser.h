#pragma once

// Turns the text of a directory listing into entries. Pure logic: no sockets, no
// clock of its own (the caller passes "now" for the year rule of Unix listings).
//
// LIST lines may be Unix `ls -l` (with or without group, numeric owners, device
// files, ACL and xattr marks, month-name dates in either order, or numeric dates
// of the long-iso, full-iso and iso styles), Windows/IIS (either date order, 12- or
// 24-hour clock, grouped sizes), VMS/MultiNet or EPLF. Each line is told apart on
// its own, so a listing that mixes them still parses. Lines that fit none of them
// ("total 12", banners, garbage) are skipped.
//
// Choices made here:
// - A Unix symbolic link is delivered under its own name (the text before " -> ").
//   A listing cannot tell whether it points to a folder, so it counts as a file;
//   the caller finds out by trying to enter it.
// - Unix, Windows and VMS listings give local times of the server without a zone;
//   they are taken as UTC. A full-iso time with a zone is converted to UTC. When a
//   Unix date carries a time instead of a year, it lies within the last six months:
//   the current year, or the year before when that date would be more than a day in
//   the future. A date that does not exist (Feb 31, Feb 29 of a common year) refuses
//   the line; in MLSD it only drops the time.
// - A date without a time of day (a year in place of the time, an iso date alone,
//   VMS without a time) is 00:00 UTC of that day with dateOnly set, so that it
//   keeps its calendar day in every time zone.
// - VMS: the ";version" is stripped; a file listed in several versions is delivered
//   once, with the highest version's facts, where its first version was listed.
//   "NAME.DIR" is the folder "NAME". Sizes are blocks of 512 bytes. A name too long
//   for its line stands alone with its columns on the next line.
// - Windows: a date whose day and month could both be either is read month first
//   with a 12-hour clock or "-" (IIS), day first with "." or "/" and a 24-hour clock.
// - MLSD "cdir" and "pdir" entries describe the listed folder and its parent, not
//   entries of it, and often under a full path: they are dropped.
// - Names that are empty, "." or "..", or contain "/" or a control character (C0,
//   DEL) are never delivered: they cannot name an entry of this folder, and a
//   hostile server must not make us touch a path outside it or write such a name.

#include <cstdint>
#include <string_view>
#include <vector>

#include "FtpFileFind.h"

namespace listing {

// Parses the output of LIST; appends one entry per recognised line.
void ParseList(std::string_view text, std::int64_t nowUtc, std::vector<FtpListEntry>& out);

// Parses the output of MLSD; appends one entry per line that names an entry.
void ParseMlsd(std::string_view text, std::vector<FtpListEntry>& out);

// One line of LIST output (without its line end); false when it is not an entry.
bool ParseListLine(std::string_view line, std::int64_t nowUtc, FtpListEntry& entry);

enum class MlsdType { File, Folder, ThisFolder, ParentFolder };

// One MLSD/MLST fact line ("type=file;size=1; name"); false when malformed or when
// the name is unusable. type tells cdir/pdir apart for the caller.
bool ParseMlsdLine(std::string_view line, FtpListEntry& entry, MlsdType* type = nullptr);

// Seconds since 1970-01-01 00:00 UTC of a civil date and time (proleptic Gregorian).
std::int64_t ToUnixTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// True when name may name an entry of a folder: not empty, no "/", no control
// character. ("." and ".." pass here; listings never deliver them.)
bool IsUsableName(std::string_view name);

} // namespace listing
