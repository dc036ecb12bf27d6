#pragma once

#include <QString>

#include "PathRules.h"

// Path rules of the copies, on top of the rules that the panes share. The FTP
// side and the local side both join with "/"; which side a path belongs to is
// always known by the caller, never guessed from its separator.
namespace transferpaths {

// folder + "/" + name, without doubling a "/" that the folder already ends in.
QString JoinRemote(const QString& folder, const QString& name);

// A name from a server listing may be used as one path element only when it is
// not empty, not "." or "..", and holds no "/" and no NUL: a hostile listing must
// not reach outside the folder being copied.
bool IsUsableListingName(const QString& name);

// True when destination is source itself or lies below it, both on the same
// side: the one rule of both panes.
using pathrules::IsSameOrInside;

// A name beside path (in the same folder) for a copy that is not whole yet, or for
// an old file or folder kept until its replacement is in place: hidden, marked as
// ours with tag, and random enough not to meet an existing name. The folder part
// of path is kept, with any run of "/" in it made one.
QString TempSibling(const QString& path, const QString& tag);

// True for a path that TempSibling could have made: absolute, each element a
// proper name, the last one hidden and marked as ours. Nothing else is ever
// removed as a leftover.
bool IsTempPath(const QString& path);

// The folder part of path and its last element ("/a/b" gives "/a" and "b"; "b"
// gives "" and "b"; trailing "/" are ignored).
QString ParentOf(const QString& path);
QString NameOf(const QString& path);

} // namespace transferpaths
