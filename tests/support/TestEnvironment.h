#pragma once

// What every test program sets up around its tests, with or without widgets: the
// C locale, and the user's configuration folder moved into a fresh temporary
// folder for each test, so that no test sees another's settings.
#include <gtest/gtest.h>

namespace testenv {

// Before the application object is made.
void UseCLocale();

// Runs the tests with each one's settings isolated. extra, if given, is told of
// each test's start after the settings are in place and of its end before they
// go; the run owns it.
int RunAllTests(int argc, char** argv, testing::TestEventListener* extra = nullptr);

} // namespace testenv
