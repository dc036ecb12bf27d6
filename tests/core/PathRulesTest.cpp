// The path and name rules of both panes and the copies, in the forms that the
// local side ("/home/u/", "/") and the FTP side ("", "//", "//www/", "/home/u/www")
// hand them.
#include <gtest/gtest.h>

#include "PathRules.h"

namespace {
using namespace pathrules;

QString Q(const char* text) {
    return QString::fromUtf8(text);
}

TEST(PathRules, TrailingSlashesAndComparableForms) {
    const struct {
        const char* path;
        const char* without;
        const char* comparable;
    } cases[] = {
        {"", "", "/"},               // the FTP root as the tree names it
        {"/", "/", "/"},             //
        {"//", "/", "/"},            // the FTP root's path when labelled "/"
        {"///", "/", "/"},           //
        {"/x", "/x", "/x"},          //
        {"/x/", "/x", "/x"},         //
        {"/x//", "/x", "/x"},        //
        {"x", "x", "x"},             // relative stays relative
        {"x/", "x", "x"},            //
        {"//www/", "//www", "/www"}, // a folder under the root "/"
        {"/home/u/", "/home/u", "/home/u"},
        {"//pub//x/", "//pub//x", "/pub/x"},
        {"/a/./b/.", "/a/./b/.", "/a/b"},   // "." names the folder it stands in
        {"/a/b/..", "/a/b/..", "/a"},       //
        {"/a/../../b", "/a/../../b", "/b"}, // nothing lies above the root
        {"/..", "/..", "/"},                //
        {"x/..", "x/..", "."},              //
        {"../x/", "../x", "../x"},          // a relative ".." points before its start
        {"/Pub", "/Pub", "/Pub"},           // letter case is kept
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutTrailingSlash(Q(c.path)), Q(c.without)) << c.path;
        EXPECT_EQ(Comparable(Q(c.path)), Q(c.comparable)) << c.path;
    }
    // As the user reads them: the slashes made single, nothing else changed.
    const std::pair<const char*, const char*> shown[] = {{"//www/", "/www/"},
                                                         {"///", "/"},
                                                         {"//pub//x/../y", "/pub/x/../y"},
                                                         {"", ""},
                                                         {"a/b", "a/b"}};
    for (const auto& [path, reads] : shown)
        EXPECT_EQ(Shown(Q(path)), Q(reads)) << path;
    for (const char* root : {"", "/", "//", "///"})
        EXPECT_TRUE(IsRoot(Q(root))) << root;
    for (const char* other : {"/x", "x", "//x/", "/..", "."})
        EXPECT_FALSE(IsRoot(Q(other))) << other;
}

TEST(PathRules, SameOrInside) {
    const struct {
        const char* folder;
        const char* path;
        bool inside;
    } cases[] = {
        {"", "/x", true},            // everything lies inside the root, named ""...
        {"", "", true},              //
        {"", "/", true},             // ...or "/": they are the same folder
        {"/", "", true},             //
        {"//", "/x/y", true},        //
        {"/", "x", true},            //
        {"/x", "", false},           // the root lies inside no folder
        {"/x", "/", false},          //
        {"/x", "/x/", true},         // trailing "/" does not matter
        {"/x/", "/x", true},         //
        {"/pub", "/pub//", true},    //
        {"/a", "/a/b", true},        //
        {"/a/b", "/a", false},       //
        {"/a/b", "/a/bc", false},    // a prefix of a name is not the folder
        {"/a/b", "/a/bc/d", false},  //
        {"/pub", "/pu", false},      //
        {"/d/a", "/d/b/a", false},   // the same name elsewhere
        {"/Pub", "/pub/sub", false}, // case tells names apart
        {"//www", "/www/a", true},   // an FTP folder under the root "/"
        {"/home/u/", "/home/u/Web/x/", true},
        {"/a/b/../c", "/a/c/d", true},
        {"/a/c", "/a/b/../c/d", true},
        {"/a/b", "/a/b/../c", false},
        {"x", "x/y", true}, //
        {"x", "xy", false}, //
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSameOrInside(Q(c.folder), Q(c.path)), c.inside)
            << c.folder << " holds " << c.path;
}

// The cases on which the list and the tree used to give different answers are
// here with every case that either of them had.
TEST(PathRules, OverlapIsOneRuleForBothPanes) {
    const struct {
        const char* a;
        const char* b;
        bool overlap;
    } cases[] = {
        {"", "/x", true},                      // the tree said no, the list yes
        {"", "", true},                        //
        {"", "/", true},                       //
        {"//", "", true},                      //
        {"/home/u/Web", "/home/u/Web/", true}, // the same folder
        {"/home/u/Web", "/home/u/Web/x", true},
        {"/home/u/Web", "/home/u/Web2", false},
        {"//www", "/www/", true},  // the FTP root "/" doubles the separator
        {"//www/a", "/www", true}, //
        {"/", "/anything", true},  // the root holds everything
        {"/a/b", "/a/c", false},   // siblings
        {"/d/x", "/d/x", true},
        {"/d/x", "/d/x/x", true},
        {"/d/x/", "//d/x", true},       //
        {"/d/x", "/d/xy", false},       //
        {"/d/a", "/d/b/a", false},      //
        {"/home/u/", "/home/U", false}, //
        {"/a", "/a/b", true},           //
        {"/a/b", "/a/bc", false},       //
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Overlap(Q(c.a), Q(c.b)), c.overlap) << c.a << " / " << c.b;
        EXPECT_EQ(Overlap(Q(c.b), Q(c.a)), c.overlap) << c.b << " / " << c.a;
    }
}

TEST(PathRules, SamePath) {
    EXPECT_TRUE(IsSamePath(Q("/a/b"), Q("//a/b/")));
    EXPECT_TRUE(IsSamePath(Q(""), Q("/")));
    EXPECT_TRUE(IsSamePath(Q("/a/./b"), Q("/a/c/../b")));
    EXPECT_FALSE(IsSamePath(Q("/a/b"), Q("/a/B")));
    EXPECT_FALSE(IsSamePath(Q("/a/b"), Q("/a/b/c")));
    EXPECT_FALSE(IsSamePath(Q("/x"), Q("x")));
}

TEST(PathRules, JoinNeverDoublesTheSeparator) {
    EXPECT_EQ(Join(Q("/pub"), Q("a.txt")), Q("/pub/a.txt"));
    EXPECT_EQ(Join(Q("/pub/"), Q("a.txt")), Q("/pub/a.txt"));
    EXPECT_EQ(Join(Q("/"), Q("a.txt")), Q("/a.txt"));
    EXPECT_EQ(Join(Q(""), Q("a.txt")), Q("/a.txt"));
    EXPECT_EQ(Join(Q("x"), Q("a/b")), Q("x/a/b"));
}

TEST(PathRules, NamesFromListingsAndNamesTheUserGives) {
    const struct {
        QString name;
        bool element;
        bool newName;
    } cases[] = {
        {QString(), false, false},        {Q("."), false, false},
        {Q(".."), false, false},          {Q("/"), false, false},
        {Q("a/b"), false, false},         {Q("../x"), false, false},
        {Q("/etc"), false, false},        {Q("a") + QChar(0) + Q("b"), false, false},
        {Q("a\nb"), true, false},        // control characters: a listing may hold
        {Q("\t"), true, false},          // them (and the copy keeps the name), a
        {Q("\x1b[31mred"), true, false}, // new name may not
        {Q("del\x7f"), true, false},     //
        {Q("c1\xc2\x85"), true, false},  // NEL, a C1 control
        {Q("Web"), true, true},           {Q(".hidden"), true, true},
        {Q("..."), true, true},           {Q("..x"), true, true},
        {Q("a b"), true, true},           {Q(" "), true, true},
        {Q("back\\slash"), true, true},   {Q("Zürich €"), true, true},
        {Q("exe\u202Etxt"), true, false}, // text-direction overrides, marks and
        {Q("a\u2067b"), true, false},     // isolates would disguise a new name
        {Q("\u200Fx"), true, false},      //
        {Q("x\u061C"), true, false},      //
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPathElement(c.name), c.element) << c.name.toStdString();
        EXPECT_EQ(IsValidNewName(c.name), c.newName) << c.name.toStdString();
    }
}

// How a server's name is shown, and whether it may name a local file (the
// server tests show each class of disguising character in the list): written
// out so that no two names read alike, and never over 255 bytes.
TEST(PathRules, DisguisingNamesAreShownWrittenOutAndNeverNameALocalFile) {
    using Problem = LocalNameProblem;
    const QString longest(255, QLatin1Char('x'));
    const struct {
        QString name;
        QString shown;
        Problem problem;
    } cases[] = {
        {Q("back\\slash"), Q("back\\slash"), Problem::None}, // shown as it is
        {Q("tab\there\x7f"), Q("tab\\x09here\\x7F"), Problem::Disguising},
        {Q("line\u2028para\u2029"), Q("line\\u2028para\\u2029"), Problem::Disguising},
        // A backslash in a written-out name is doubled: it cannot pass for an escape.
        {Q("\\x9B\u202E"), Q("\\\\x9B\\u202E"), Problem::Disguising},
        {longest, longest, Problem::None},
        {longest + Q("y"), longest + Q("y"), Problem::TooLong},
        {QString(128, QChar(0xE9)), QString(128, QChar(0xE9)), Problem::TooLong}, // 256 bytes
        {Q(".."), Q(".."), Problem::NotAnElement},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Escaped(c.name), c.shown) << c.name.toStdString();
        EXPECT_EQ(CheckLocalName(c.name), c.problem) << c.name.toStdString();
    }
}
} // namespace
