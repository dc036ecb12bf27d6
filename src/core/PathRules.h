#pragma once

#include <QString>

// The path and name rules that both panes and the copies share. Both sides join
// with "/"; which side a path belongs to is always known by the caller, and two
// paths are compared only when they are on the same side.
//
// The root: the FTP side names its root "" as well as "/", and both are the same
// folder; every path, on either side, lies inside the root. A local path is
// never empty, so reading "" as the root there too only ever errs towards
// refusing a copy, never towards replacing a folder with itself.
namespace pathrules {

// Every trailing "/" taken off, but a path made of "/" alone stays "/".
QString WithoutTrailingSlash(QString path);

// folder + "/" + name, without doubling a "/" that the folder already ends in.
QString Join(const QString& folder, const QString& name);

// True for "" and for a path of nothing but "/".
bool IsRoot(const QString& path);

// A folder path reduced for comparison: runs of "/" made one, "." elements
// dropped, ".." taking the element before it away (never above the root), no
// trailing "/". The root comes out as "/" whether it was "" or "//"; the case of
// letters is kept, as the servers and the local disk tell it apart.
QString Comparable(const QString& path);

// A path as the user reads it: runs of "/" made one. The panes join the FTP
// root "/" and a name with a slash of their own ("//docs/"), which the server
// reads as "/docs/".
QString Shown(QString path);

// True when both paths name the same file or folder.
bool IsSamePath(const QString& a, const QString& b);

// True when path is folder itself or lies anywhere below it ("/a/b" is not
// inside "/a/bc"; everything is inside the root).
bool IsSameOrInside(const QString& folder, const QString& path);

// True when one of the two folders is the other or lies inside it: copying one
// into the other would replace or read what is being written.
bool Overlap(const QString& a, const QString& b);

// A name that may stand as one element of a path: not empty, not "." or "..",
// no "/" and no NUL. A name from a listing or a file manager that fails this
// must never be joined to a folder (it would reach outside it).
bool IsPathElement(const QString& name);

// A name the user gives to a new or renamed file or folder: a path element that
// also holds no disguising character.
bool IsValidNewName(const QString& name);

// Characters that hide or disguise a name on the screen: the control characters
// (C0, DEL and C1, which no file system shows sensibly and a terminal acts on),
// the marks, embeddings, overrides and isolates that turn the direction of
// text ("exe.txt" shown as "txt.exe"), and the line and paragraph separators.
bool IsDisguisingCharacter(char16_t c);
bool HasDisguisingCharacter(const QString& name);

// A name as the panes and the messages show it: each disguising character
// written out as \xHH (up to U+00FF) or \uHHHH, and, in such a name, each
// backslash doubled, so that no shown name reads like another. Any other name is
// shown as it is.
QString Escaped(const QString& name);

// The longest name of one local file or folder, in bytes of its encoded form.
inline constexpr int kMaxLocalNameBytes = 255;

// Why a name from a server cannot name a local file or folder; None when it can.
enum class LocalNameProblem { None, NotAnElement, Disguising, TooLong };
LocalNameProblem CheckLocalName(const QString& name);

} // namespace pathrules
