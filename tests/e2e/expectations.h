// What every run of the tool must look like, shared by the end-to-end suites.
#ifndef KORVANEL_TESTS_E2E_EXPECTATIONS_H
#define KORVANEL_TESTS_E2E_EXPECTATIONS_H

#include "harness.h"

#include <gtest/gtest.h>

extern bool g_portrait;  // the screen this session runs on, given by the test runner

// Ended by itself with exit code 0, never more than one box up at a time.
void ExpectEndedWithZero(const ToolRun& run);
// Caption, a single OK button, and the icon's colour ('r' error, 'b' information).
void ExpectBoxLook(const ShownBox& box, char iconColour);
// Page 1 (as the screen's orientation makes it), then page 2, and exit code 0.
void ExpectHelpPages(const ToolRun& run);
// Exit code 0 and not a single box.
void ExpectSilent(const ToolRun& run);

// A target window for the length of one test.
class Target : public ::testing::Test {
protected:
    // A new target, in place of the one before if there was one. ANSI names
    // are taken in this program's ANSI code page, as the "A" calls take them.
    void Start(const char* className, const char* title);
    void Start(const wchar_t* className, const wchar_t* title);
    void TearDown() override;
    int Priority() const;

    TargetWindow target;
};

#endif
