#pragma once

// Turns the text of a directory listing into entries. Pure logic: no sockets, no
// clock of its own (the caller passes "now" for the year rule of Unix listings).
//
// LIST lines may be Unix `ls -l` (with or without group, numeric owners, device
// files, ACL and xattr marks, month names in English, German, French, Spanish,
// Italian, Dutch, Portuguese or Swedish in either order, Asian "6月 7日" dates,
// numeric dates of every common style, the year and the time both given as
// VShell writes them, sizes with units or run into the group column),
// Windows/IIS, OS/2, VMS/MultiNet, EPLF, NetWare, IBM OS/400, Nortel wfFtp,
// VxWorks or OS-9. Each line is told apart on its own, so a listing that mixes
// them still parses. Lines that fit none of them are counted for the caller to
// report; lines that carry no entry ("total 12", blank lines, headers and
// footers of the formats above) are not.
//
// Choices made here:
// - A Unix symbolic link is delivered under its own name (the text before " -> ").
//   A listing cannot tell whether it points to a folder, so it counts as a file;
//   the caller finds out by trying to enter it.
// - Every LIST format but EPLF gives local times of the server without a zone;
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
// - A numeric date whose day and month could both be either ("06/07/05") is read
//   month first, unless another line of the same listing has a first field over
//   12: then all of them are read day first. Dates written with "." are day first.
// - Lines end at CRLF in a listing that uses CRLF: a bare LF there belongs to a
//   name, which then holds a control character and is counted as unreadable. A
//   listing that ends its lines with LF alone is split at every LF.
// - OS/400: an object named by a path ("QGPL/QCLSRC.FILE/UPDATE.MBR") is delivered
//   under its last part. *DIR, *LIB, *FLR and a *FILE of the library file system
//   (".FILE") are folders, as they can be entered.
// - VxWorks and OS/2 folders are marked "<DIR>" / "DIR"; NetWare's by "d".
// - MLSD "cdir" and "pdir" entries describe the listed folder and its parent, not
//   entries of it, and often under a full path: they are dropped.
// - Names that are empty, "." or "..", or contain "/" or a control character (C0,
//   DEL) are never delivered: they cannot name an entry of this folder, and a
//   hostile server must not make us touch a path outside it or write such a name.
//   Such a line is counted with those that could not be read ("." and ".." are not:
//   nothing the user should see is missing).

#include <cstdint>
#include <string_view>
#include <vector>

#include "FtpFileFind.h"

namespace listing {

// The formats of LIST lines.
enum class ListFamily { None, Unix, Windows, Vms, Eplf, NetWare, Os2, Os400, Nortel, VxWorks, Os9 };

// Parses the output of LIST; appends one entry per recognised line. unreadable,
// when given, receives the number of lines that should have been entries and
// could not be read or delivered.
void ParseList(std::string_view text, std::int64_t nowUtc, std::vector<FtpListEntry>& out,
               std::size_t* unreadable = nullptr);

// Parses the output of MLSD; appends one entry per line that names an entry.
void ParseMlsd(std::string_view text, std::vector<FtpListEntry>& out,
               std::size_t* unreadable = nullptr);

// One line of LIST output (without its line end); false when it is not an entry.
// family, when given, receives the format that read the line (even when its
// name cannot be delivered), None when no format did.
bool ParseListLine(std::string_view line, std::int64_t nowUtc, FtpListEntry& entry,
                   ListFamily* family = nullptr);

// The same line read by one format's rules alone.
bool ParseListLineAs(ListFamily family, std::string_view line, std::int64_t nowUtc,
                     FtpListEntry& entry);

// True for a line that carries no entry: blank, "total 12", a format's header or
// footer.
bool CarriesNoEntry(std::string_view line);

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
