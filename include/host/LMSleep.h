// SPDX-License-Identifier: Apache-2.0
// LMSLEEP_InTeRnAl: the host's millisecond sleep. Every wait of the plug-in goes through it, so
// a test can install a Sleeper that records the waits instead of sleeping.
#pragma once

#include "KyPlatformExport.h"

KYPLATFORM_API void LMSLEEP_InTeRnAl(unsigned int milliseconds, const char* file, int line);

#define LMSLEEP(milliseconds) LMSLEEP_InTeRnAl((milliseconds), __FILE__, __LINE__)
