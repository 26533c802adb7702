#pragma once
// Process start-up, the message loop, event firing and the end of the program.
#include <windows.h>

namespace harvester {

// The process's entry: start-up, the message loop, EndProgram(0); returns the exit code.
int StartUp();

}  // namespace harvester
