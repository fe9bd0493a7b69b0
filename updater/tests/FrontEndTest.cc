#include <gtest/gtest.h>

#include <sstream>

#include "updater/FrontEnd.h"

namespace vrexa::updater {
namespace {

TEST(FrontEnd, WindowWhenADisplayOpensUnlessOverridden) {
    struct Case {
        std::string requested;
        bool display;
        FrontEnd expected;
        int asked;         // how often the display was tried
        std::string note;  // part of the note, "" for none
    };
    const Case cases[] = {
        {"", true, FrontEnd::Window, 1, ""},
        {"", false, FrontEnd::Terminal, 1, ""},
        {"tty", true, FrontEnd::Terminal, 0, ""},
        {"gtk", true, FrontEnd::Window, 1, ""},
        {"gtk", false, FrontEnd::Terminal, 1, "no display"},
        {"qt", true, FrontEnd::Window, 1, "unknown front end \"qt\""},
        {"qt", false, FrontEnd::Terminal, 1, "unknown front end \"qt\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("\"" + c.requested + "\" with" + (c.display ? "" : "out") + " a display");
        int asked = 0;
        std::ostringstream notes;
        const FrontEnd chosen = ChooseFrontEnd(
            c.requested,
            [&] {
                ++asked;
                return c.display;
            },
            notes);
        EXPECT_EQ(chosen, c.expected);
        EXPECT_EQ(asked, c.asked);
        if (c.note.empty()) {
            EXPECT_EQ(notes.str(), "");
        } else {
            EXPECT_NE(notes.str().find(c.note), std::string::npos) << notes.str();
        }
    }
}

}  // namespace
}  // namespace vrexa::updater
