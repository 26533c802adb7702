#pragma once
// Process start-up, the end of the program, and the start window.
#include <windows.h>

namespace harvester {

// The process's entry: start-up, the message loop, EndProgram(0); returns the exit code.
int StartUp();

// Releases what the shell loaded for the program, destroys the remaining program windows and
// uninitialises OLE. Called once, with the exit code the process ends with.
void EndProgram(int exitCode);

}  // namespace harvester
