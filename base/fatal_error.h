#pragma once
// The fatal-error box: the one failure the program shows before it ends with exit code -1.
// Every layer may raise it; the shell says what ending the program involves.
#include <cstddef>
#include <string>
#include <string_view>

namespace harvester {

// "运行时出错!" with the optional code and text lines, exactly as the box shows it.
std::string ComposeFatalErrorMessage(std::string_view text, int code);
// The same message as the box composes it without allocating: in buffer, capacity bytes (at
// least 1) with the terminating NUL; whole characters that do not fit are left off. Returns
// the length without the NUL.
std::size_t ComposeFatalErrorMessage(std::string_view text, int code, char* buffer, std::size_t capacity);

// Shows the box (caption "错误", MB_ICONERROR, no owner), ends the program and the process with
// -1. It allocates nothing on its way to the box, so a failed allocation can be reported; a
// second fatal error while one is being reported ends the process with -1 at once.
[[noreturn]] void ReportFatalError(std::string_view text, int code);

// Tests replace the box and the exit: the sink receives the composed message and must not
// return (a test sink throws). Pass nullptr to restore the real behaviour.
using FatalErrorSink = void (*)(const std::string& message);
void SetFatalErrorSink(FatalErrorSink sink);

// True while a fatal error is being reported: no control event is dispatched then.
int FatalErrorDepth();

// What the program gives back before the process ends after the box (its windows, its
// libraries, OLE); the shell sets it at start-up. Without it the process just ends.
using ProgramEnd = void (*)(int exitCode);
void SetFatalErrorProgramEnd(ProgramEnd end);

}  // namespace harvester
