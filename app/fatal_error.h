#pragma once
// The fatal-error box: the one failure the program shows before it ends with exit code -1.
#include <string>
#include <string_view>

namespace harvester {

// "运行时出错!" with the optional code and text lines, exactly as the box shows it.
std::string ComposeFatalErrorMessage(std::string_view text, int code);

// Shows the box (caption "错误", MB_ICONERROR, no owner), ends the program and the process with -1.
[[noreturn]] void ReportFatalError(std::string_view text, int code);

// Tests replace the box and the exit: the sink receives the composed message and must not
// return (a test sink throws). Pass nullptr to restore the real behaviour.
using FatalErrorSink = void (*)(const std::string& message);
void SetFatalErrorSink(FatalErrorSink sink);

// True while a fatal error is being reported: no control event is dispatched then.
int FatalErrorDepth();

}  // namespace harvester
