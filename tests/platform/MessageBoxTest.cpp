#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "MessageBox.h"
#include "MessageBoxRecorder.h"

namespace {
TEST(MessageBox, TheRecorderAnswersInOrderThenWithTheFirstButton) {
    MessageBoxRecorder boxes;
    boxes.Answer(IDCANCEL);
    EXPECT_EQ(MessageBox(nullptr, QStringLiteral("t1"), QStringLiteral("C1"), MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBox(nullptr, QStringLiteral("t2"), QStringLiteral("C2"), MB_YESNO), IDYES);
    EXPECT_EQ(MessageBox(nullptr, QStringLiteral("t3"), QStringLiteral("C3"), MB_OK | MB_ICONHAND), IDOK);
    ASSERT_EQ(boxes.Count(), 3);
    EXPECT_EQ(boxes.Calls()[2].text, QStringLiteral("t3"));
    EXPECT_EQ(boxes.Calls()[2].flags, unsigned(MB_OK | MB_ICONHAND));
}

TEST(MessageBox, WithoutAHandlerARealBoxRunsAndItsButtonsMapToIds) {
    struct Case {
        unsigned flags;
        QMessageBox::StandardButton press;
        int expected;
    } cases[] = {{MB_OKCANCEL | MB_ICONQUESTION, QMessageBox::Cancel, IDCANCEL},
                 {MB_OKCANCEL | MB_ICONQUESTION, QMessageBox::Ok, IDOK},
                 {MB_YESNO | MB_ICONQUESTION, QMessageBox::No, IDNO},
                 {MB_OK | MB_ICONHAND, QMessageBox::Ok, IDOK}};
    for (const Case& c : cases) {
        QString seenCaption;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seenCaption = box->windowTitle();
            box->button(c.press)->click();
        });
        EXPECT_EQ(MessageBox(nullptr, QStringLiteral("text"), QStringLiteral("Caption"), c.flags),
                  c.expected);
        EXPECT_EQ(seenCaption, QStringLiteral("Caption"));
    }
}
} // namespace
