// The two help pages shown when the command tail is empty or malformed.
#ifndef KORVANEL_USAGE_USAGE_H
#define KORVANEL_USAGE_USAGE_H

#include <stddef.h>

const size_t kUsagePageSize = 256;

// The caption of every box the tool shows.
extern const char kCaption[];

// True when the primary screen is at least as wide as it is tall.
bool IsLandscapeScreen();

// Composes help page 1 or 2 into page (kUsagePageSize bytes).
void ComposeUsagePage(int number, bool landscape, char* page);

// Shows page 1, then page 2, each in a modal box.
void ShowUsageReference();

#endif
