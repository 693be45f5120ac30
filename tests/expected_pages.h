// The help pages exactly as a user must see them, for the host and the end-to-end tests.
#ifndef KORVANEL_TESTS_EXPECTED_PAGES_H
#define KORVANEL_TESTS_EXPECTED_PAGES_H

const char kExpectedPage1Landscape[] =
    "Korvanel Reference (1/2)\n"
    "\n"
    "Arguments:\n"
    " \"Class\" \"Title\" PRIORITY\n"
    "\n"
    "command line samples:\n"
    "(for Desktop)\n"
    " Progman \"Program Manager\" ABOVE_NORMAL\n"
    "\n"
    "(for WMP)\n"
    " WMPlayerApp NULL -15";

// On a screen taller than wide, one more paragraph before the samples.
const char kExpectedPage1Portrait[] =
    "Korvanel Reference (1/2)\n"
    "\n"
    "Arguments:\n"
    " \"Class\" \"Title\" PRIORITY\n"
    "\n"
    " \"Class\", \"Title\" parameters for FindWindow() function\n"
    "\n"
    "command line samples:\n"
    "(for Desktop)\n"
    " Progman \"Program Manager\" ABOVE_NORMAL\n"
    "\n"
    "(for WMP)\n"
    " WMPlayerApp NULL -15";

const char kExpectedPage2[] =
    "Korvanel Reference (2/2)\n"
    "\n"
    "Priority Parameters:\n"
    " TIME_CRITICAL=15\n"
    " CRITICAL=15\n"
    " HIGHEST=2\n"
    " HIGH=1\n"
    " ABOVE_NORMAL=1\n"
    " NORMAL=0\n"
    " BELOW_NORMAL=-1\n"
    " LOW=-1\n"
    " LOWEST=-2\n"
    " ABOVE_IDLE=-2\n"
    " IDLE=-15";

#endif
