// SPDX-License-Identifier: GPL-2.0-or-later
// The main of test programs that draw: like a program of ours, it makes the graphics
// application on the main thread before any test runs (drawing calls on worker threads
// then find it, as the production run's workers do in the command line).

#include "picture/QtGuiHost.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!lumivox::EnsureGuiApplication(lumivox::GuiPlatform::Offscreen)) {
        std::fprintf(stderr, "the graphics application could not be created\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
