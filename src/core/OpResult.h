#pragma once

#include <QString>

// What a create, rename or delete came to, for the view to show: the operation,
// how it ended, where, and the server's or the system's own words. The views
// turn it into their message boxes; nothing here shows anything.
namespace core {

enum class FileOp { CreateFolder, Rename, DeleteFile, DeleteFolder };

enum class OpErrorKind {
    None,      // done
    Failed,    // refused by the server or the system
    NameTaken, // a rename onto a name that is there already: nothing was touched
    Cancelled, // stopped on request; detail tells what is left
    // the connection to the server was lost and could not be made again
    ConnectionLost,
};

struct OpResult {
    FileOp op = FileOp::CreateFolder;
    OpErrorKind kind = OpErrorKind::None;
    QString path;   // where it went wrong
    QString words;  // the server's reply or the system's message, as given
    QString detail; // a tree delete's account: why, where it stopped, what is left

    bool Ok() const { return kind == OpErrorKind::None; }
    explicit operator bool() const { return Ok(); }

    static OpResult Done(FileOp op) { return OpResult{op, OpErrorKind::None, {}, {}, {}}; }
    static OpResult Error(FileOp op, OpErrorKind kind, const QString& path, const QString& words,
                          const QString& detail = QString()) {
        return OpResult{op, kind, path, words, detail};
    }
};

} // namespace core
