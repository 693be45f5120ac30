// The run flow: from the command tail to the priority change or a message box.
#ifndef KORVANEL_APP_RUN_H
#define KORVANEL_APP_RUN_H

#include "platform/platform.h"

#include <stddef.h>
#include <stdint.h>

const size_t kErrorTextSize = 80;

// Access asked for when opening the target thread.
const uint32_t kThreadPriorityAccess =
    platform::kThreadSetContext | platform::kThreadSetInformation | platform::kThreadSetThreadToken;

// The command line without the program's own name, pointing into commandLine;
// null when commandLine is null.
const char* CutCommandTail(const char* commandLine);

// Sets the priority of the thread that created window. True when the platform
// accepted it; lastError (optional) gets the platform's error code, or 6 when
// the thread could not be opened.
bool ApplyWindowThreadPriority(platform::WindowHandle window, int32_t priority, uint32_t* lastError);

// The text of the error box for lastError, into text (kErrorTextSize bytes).
void ComposeErrorText(uint32_t lastError, char* text);

// The whole run for one command tail (null when there is none). Always 0.
int RunKorvanel(const char* tail);

#endif
