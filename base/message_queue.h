#pragma once
// The thread's message queue, emptied by the program's own code between the message loop's turns.
#include <windows.h>

namespace harvester {

// Dispatches every message already queued for this thread, each first offered to preTranslate
// (when given), which keeps it from going on by answering true. The quit message is put back
// for the loop that owns it and ends the dispatch: then false, otherwise true.
bool DispatchQueuedMessages(bool (*preTranslate)(const MSG& message) = nullptr);

}  // namespace harvester
