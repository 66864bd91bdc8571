#include "gui/addentrydialog.h"
#include "support/qtapplication.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace tarnwick;

// The dialog takes a number pasted with blanks or separators, as the filter does, and refuses what fits no mask.
TEST(AddEntryDialog, OkTakesAPastedNumberAndRefusesOneThatFitsNoMask)
{
    test::ensureApplication();
    struct Case {
        const char* typed;
        bool accepted;
    } cases[] = {{"75000019 ", true}, {"75 000008", true}, {"75 000 0012", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        gui::AddEntryDialog dialog;
        const QList<QLineEdit*> edits = dialog.findChildren<QLineEdit*>();
        ASSERT_EQ(edits.size(), 2);
        QTest::keyClicks(edits[1], QString::fromLatin1(c.typed)); // the number, after the reference
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    }
}
