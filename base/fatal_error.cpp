#include "base/fatal_error.h"

#include <windows.h>

#include <cstdlib>
#include <iterator>

#include "base/fixed_text.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

FatalErrorSink g_sink = nullptr;
int g_fatalErrorDepth = 0;
ProgramEnd g_programEnd = nullptr;

struct GrowingText {
  std::string text;
  void Append(std::string_view part) { text += part; }
};

template <typename Out>
void WriteFatalErrorMessage(Out& out, std::string_view text, int code) {
  out.Append("运行时出错!\r\n\r\n");
  if (code != 0) {
    out.Append("错误代码：");
    out.Append(Decimal(code).View());
    out.Append("\r\n\r\n");
  }
  if (!text.empty()) {
    out.Append("错误信息：");
    out.Append(text);
    out.Append("\r\n");
  }
}

// Program text to UTF-16 in a fixed buffer, NUL-terminated; empty when it does not convert.
void ToWide(const char* text, int length, wchar_t* wide, int capacity) {
  const int converted = MultiByteToWideChar(kTextCodePage, 0, text, length, wide, capacity - 1);
  wide[converted > 0 ? converted : 0] = L'\0';
}

// The box's texts: static, as the stack of a failed allocation may be nearly used up and the
// second report never gets this far.
char g_message[2048];
wchar_t g_wideMessage[2048];
wchar_t g_wideCaption[16];

[[noreturn]] void ShowFatalErrorBox(std::string_view text, int code) {
  const std::size_t length = ComposeFatalErrorMessage(text, code, g_message, sizeof g_message);
  ToWide(g_message, static_cast<int>(length), g_wideMessage, static_cast<int>(std::size(g_wideMessage)));
  constexpr char kCaption[] = "错误";
  ToWide(kCaption, static_cast<int>(sizeof kCaption - 1), g_wideCaption, static_cast<int>(std::size(g_wideCaption)));
  MessageBoxW(nullptr, g_wideMessage, g_wideCaption, MB_ICONERROR | MB_OK);
  if (g_programEnd) g_programEnd(-1);
  ExitProcess(static_cast<UINT>(-1));
}

}  // namespace

std::string ComposeFatalErrorMessage(std::string_view text, int code) {
  GrowingText message;
  WriteFatalErrorMessage(message, text, code);
  return message.text;
}

std::size_t ComposeFatalErrorMessage(std::string_view text, int code, char* buffer, std::size_t capacity) {
  FixedText message(buffer, capacity);
  WriteFatalErrorMessage(message, text, code);
  return message.Length();
}

void SetFatalErrorSink(FatalErrorSink sink) { g_sink = sink; }

int FatalErrorDepth() { return g_fatalErrorDepth; }

void SetFatalErrorProgramEnd(ProgramEnd end) { g_programEnd = end; }

void ReportFatalError(std::string_view text, int code) {
  // A fatal error raised while the last one is reported (from inside the box's own message
  // loop, or while the program ends) has no box of its own.
  if (g_fatalErrorDepth > 0 && !g_sink) ExitProcess(static_cast<UINT>(-1));
  struct DepthGuard {  // a test sink leaves by throwing; the real path never comes back
    DepthGuard() { ++g_fatalErrorDepth; }
    ~DepthGuard() { --g_fatalErrorDepth; }
  } depth;
  if (g_sink) {
    g_sink(ComposeFatalErrorMessage(text, code));
    std::abort();  // a sink must not return
  }
  ShowFatalErrorBox(text, code);
}

}  // namespace harvester
