#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

#include "PaneClipboard.h"
#include "VelmarDoc.h"

namespace {

std::unique_ptr<QMimeData> Mime(const char* format, const QByteArray& data) {
    auto mime = std::make_unique<QMimeData>();
    mime->setData(QString::fromLatin1(format), data);
    return mime;
}

TEST(DesktopClipboard, FileManagerFormsGiveTheirLocalPaths) {
    const struct {
        const char* format;
        QByteArray data;
        QStringList paths;
    } cases[] = {
        {"text/uri-list",
         "file:///home/u/a.txt\r\nfile:///home/u/dir/\r\n",
         {"/home/u/a.txt", "/home/u/dir"}},
        {"text/uri-list", "# a comment\nfile:///tmp/x%20y%23z.txt\n", {"/tmp/x y#z.txt"}},
        {"text/uri-list", "file:///tmp/%C3%BC.txt", {"/tmp/\u00fc.txt"}},
        {"text/uri-list", "sftp://host/etc/passwd\nhttp://x/y\nfile:///ok", {"/ok"}},
        {"text/uri-list", "file:///\nfile:///a/b/..\nfile:///a\n", {"/a"}}, // root never
        {"text/uri-list", "file:///a\nfile:///a/\nfile:///b", {"/a", "/b"}},
        {"text/uri-list", "relative/path\n/not/a/url\n", {}},
        {"text/uri-list", "", {}},
        {"x-special/gnome-copied-files",
         "copy\nfile:///home/u/a.txt\nfile:///home/u/b",
         {"/home/u/a.txt", "/home/u/b"}},
        // A cut in the file manager is pasted as a copy: its files stay.
        {"x-special/gnome-copied-files", "cut\nfile:///home/u/a.txt", {"/home/u/a.txt"}},
        {"text/plain", "x-special/nautilus-clipboard\ncopy\nfile:///srv/f%201\n", {"/srv/f 1"}},
        {"text/plain", "file:///just/text/that/looks/like/a/url", {}},
        {"application/octet-stream", "file:///x", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(paneclip::DesktopPaths(Mime(c.format, c.data).get()), c.paths)
            << c.format << ": " << c.data.toStdString();
    EXPECT_TRUE(paneclip::DesktopPaths(nullptr).isEmpty());
}

TEST(DesktopClipboard, AUriListIsPreferredToTheGnomeForm) {
    QMimeData mime;
    mime.setData("x-special/gnome-copied-files", "copy\nfile:///gnome");
    mime.setData("text/uri-list", "file:///uris");
    EXPECT_EQ(paneclip::DesktopPaths(&mime), QStringList{"/uris"});
}

TEST(DesktopClipboard, LocalItemsGoOutInEveryFormAndComeBackWhole) {
    PaneClip clip;
    clip.side = 0;
    const QStringList names = {"plain.txt", "a b#%?.txt", "\u00fcml\u00e4ut", "new\nline", "dir"};
    for (const QString& name : names)
        clip.items.append({"/tmp/src/" + name, name, name == "dir"});
    std::unique_ptr<QMimeData> mime(paneclip::MakeMime(clip, 7));
    QStringList expected;
    for (const QString& name : names)
        expected << "/tmp/src/" + name;
    EXPECT_EQ(paneclip::DesktopPaths(mime.get()), expected);
    QMimeData gnomeOnly;
    gnomeOnly.setData("x-special/gnome-copied-files", mime->data("x-special/gnome-copied-files"));
    EXPECT_EQ(paneclip::DesktopPaths(&gnomeOnly), expected);
    EXPECT_TRUE(mime->data("x-special/gnome-copied-files").startsWith("copy\n"));
    EXPECT_EQ(paneclip::OwnSerial(mime.get()), 7u);
}

TEST(DesktopClipboard, FtpItemsAreNeverOfferedAsLocalFiles) {
    PaneClip clip;
    clip.side = 1;
    clip.items.append({"/pub/readme.txt", "readme.txt", false});
    std::unique_ptr<QMimeData> mime(paneclip::MakeMime(clip, 3));
    EXPECT_FALSE(mime->hasUrls());
    EXPECT_TRUE(paneclip::DesktopPaths(mime.get()).isEmpty());
    EXPECT_EQ(paneclip::OwnSerial(mime.get()), 3u);
}

TEST(DesktopClipboard, OnlyThisProcessesMarkCounts) {
    const struct {
        QByteArray mark;
        quint64 serial;
    } cases[] = {
        {QByteArray::number(QCoreApplication::applicationPid()) + " 12", 12},
        {QByteArray::number(QCoreApplication::applicationPid() + 1) + " 12", 0},
        {"garbage", 0},
        {"", 0},
        {QByteArray::number(QCoreApplication::applicationPid()) + " 1 2", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(paneclip::OwnSerial(Mime("application/x-velmar98-clip", c.mark).get()), c.serial)
            << c.mark.toStdString();
    EXPECT_EQ(paneclip::OwnSerial(Mime("text/plain", "x").get()), 0u);
}

TEST(DesktopClipboard, DesktopFilesBecomeLocalItemsThatStillExist) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    QFile file(dir.path() + "/file.bin");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const PaneClip clip = paneclip::FromDesktopPaths(
        {dir.path() + "/file.bin", dir.path() + "/gone", dir.path() + "/folder"});
    EXPECT_EQ(clip.side, 0);
    EXPECT_TRUE(clip.fromDesktop);
    const QList<ClipItem> expected = {{dir.path() + "/file.bin", "file.bin", false},
                                      {dir.path() + "/folder", "folder", true}};
    EXPECT_EQ(clip.items, expected);
    EXPECT_TRUE(paneclip::FromDesktopPaths({dir.path() + "/gone"}).IsEmpty());
}

TEST(PaneClipboardRecord, TheLastCopyAnywhereIsWhatAPasteTakes) {
    CVelmarDoc doc;
    PaneClipboard* board = PaneClipboard::Of(&doc);
    ASSERT_EQ(board, PaneClipboard::Of(&doc)); // one for all four panes
    PaneClip ftp;
    ftp.side = 1;
    ftp.items.append({"/pub/a", "a", true});
    board->Copy(ftp);
    EXPECT_EQ(board->Current().items, ftp.items);
    EXPECT_EQ(board->Current().side, 1);

    QTemporaryDir dir;
    QFile file(dir.path() + "/from-file-manager.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    auto* desktop = new QMimeData;
    desktop->setUrls({QUrl::fromLocalFile(file.fileName())});
    QGuiApplication::clipboard()->setMimeData(desktop);
    const PaneClip pasted = board->Current();
    EXPECT_EQ(pasted.side, 0);
    EXPECT_TRUE(pasted.fromDesktop);
    ASSERT_EQ(pasted.items.size(), 1);
    EXPECT_EQ(pasted.items[0].name, "from-file-manager.txt");

    // Text copied elsewhere afterwards: there is nothing to paste, not the old copy.
    QGuiApplication::clipboard()->setText("some words");
    EXPECT_TRUE(board->Current().IsEmpty());
    board->Copy(ftp);
    EXPECT_EQ(board->Current().items, ftp.items);
}

} // namespace
