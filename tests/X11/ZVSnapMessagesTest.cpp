// Every message text of the screen reads, in one table, so nobody "corrects" a spelling.
#include <gtest/gtest.h>

#include <string>

#include "Platform/X11/ZVX11Connection.h"
#include "Zorvan.h"

TEST(ZVSnapMessages, ExactTexts) {
    struct Row {
        std::string actual;
        const char* expected;
    } rows[] = {
        {kZVSnapCursorMallocFailure, "ME-1: snapFromRect:withCursor: failed at malloc error."},
        {ZVFormat(kZVSnapScreenReadFailureFormat, 12),
         "Orvell was unable to read pixel data from screen #12 due to OpenGL initialization "
         "error"},
        {ZVFormat(kZVSnapScreenReadFailureFormat, -3),
         "Orvell was unable to read pixel data from screen #-3 due to OpenGL initialization "
         "error"},
        {kZVX11WaylandRefusal,
         "Zorvan cannot read the screen of a Wayland session (Xwayland shows only black); log "
         "in to an X11 session to record"},
    };
    for (const Row& r : rows) EXPECT_EQ(r.actual, r.expected);
}
