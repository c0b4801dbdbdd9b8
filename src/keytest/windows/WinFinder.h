// --find and --write-map: the key found by pressing it on every free port,
// and the finding written to io-ports.txt.
#pragma once

#include "keytest/KeyTestOptions.h"

int FindKey(const KeyTestOptions &options);
