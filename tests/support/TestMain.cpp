// Test programs' entry: one application object (the wait cursor and the message pump belong to
// it) and GoogleTest.
#include "framework/Afx.h"

#include <gtest/gtest.h>

namespace {
CWinApp g_testApp("OrvaneTests");
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
