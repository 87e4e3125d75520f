// The application object: an exception that escapes a guarded handler reaches the error box
// (through the dialog seam) and the program carries on.
#include <gtest/gtest.h>

#include "core/Convert.h"
#include "core/Guard.h"
#include "tests/common/DialogRecorder.h"
#include "widgets/Dialogs.h"

using namespace trelmo;

TEST(ErrorDisplay, GuardedHandlerShowsTheMessageAndCarriesOn) {
    test::DialogRecorder dialogs;
    bool after = false;
    auto handler = guarded([] { StrToInt("x"); });
    handler();
    after = true;
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "'x' is not a valid integer value");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Error);
    EXPECT_TRUE(after);
}
