#include "app/fatal_error.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>

#include "app/shell.h"
#include "automation/text_codec.h"

namespace harvester {
namespace {

FatalErrorSink g_sink = nullptr;
int g_fatalErrorDepth = 0;
HeapRequestFunction g_heapRequest = nullptr;
bool g_allocationFailing = false;  // set from a failed allocation until its report is done

// The decimal digits of a number, held in place.
class Decimal {
 public:
  explicit Decimal(std::uint64_t value) { Fill(value, false); }
  explicit Decimal(int value) {
    const bool negative = value < 0;
    // Through unsigned arithmetic: the magnitude of INT_MIN does not fit an int.
    const std::uint64_t magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                             : static_cast<std::uint64_t>(value);
    Fill(magnitude, negative);
  }
  std::string_view View() const { return {digits_ + start_, sizeof digits_ - start_}; }

 private:
  void Fill(std::uint64_t value, bool negative) {
    do {
      digits_[--start_] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (negative) digits_[--start_] = '-';
  }
  char digits_[21] = {};  // 20 digits of 2^64 - 1 and a sign
  std::size_t start_ = sizeof digits_;
};

// Program text in a fixed buffer, always NUL-terminated: whole characters that do not fit are
// left off (a two-byte character is never cut in half).
class FixedText {
 public:
  FixedText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = '\0'; }
  void Append(std::string_view text) {
    for (std::size_t i = 0; i < text.size() && !full_;) {
      const std::size_t width = static_cast<unsigned char>(text[i]) > 0x80 && i + 1 < text.size() ? 2 : 1;
      if (length_ + width >= capacity_) {
        full_ = true;  // nothing after a character left off
        break;
      }
      for (std::size_t k = 0; k < width; ++k) buffer_[length_++] = text[i++];
    }
    buffer_[length_] = '\0';
  }
  std::size_t Length() const { return length_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool full_ = false;
};

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
  EndProgram(-1);
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

void SetHeapRequestFunction(HeapRequestFunction function) { g_heapRequest = function; }

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

// Every allocation of the program goes through here: a request that cannot be met ends the
// program with the size it asked for.
namespace {

void* RequestFromHeap(std::size_t size) {
  if (size == 0) size = 1;
  return harvester::g_heapRequest ? harvester::g_heapRequest(size) : HeapAlloc(GetProcessHeap(), 0, size);
}

void* AllocateOrDie(std::size_t size) {
  void* block = RequestFromHeap(size);
  if (block) return block;
  // The report of a failed allocation allocates nothing; if anything else fails meanwhile,
  // there is no memory left to say so.
  if (harvester::g_allocationFailing) ExitProcess(static_cast<UINT>(-1));
  struct FailingGuard {  // the real report never comes back; a test sink throws through here
    FailingGuard() { harvester::g_allocationFailing = true; }
    ~FailingGuard() { harvester::g_allocationFailing = false; }
  } failing;
  char text[64];
  harvester::FixedText message(text, sizeof text);
  message.Append("分配 ");
  message.Append(harvester::Decimal(static_cast<std::uint64_t>(size)).View());
  message.Append(" 字节内存失败!");
  harvester::ReportFatalError(text, 0);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrDie(size); }
void* operator new[](std::size_t size) { return AllocateOrDie(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return RequestFromHeap(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return RequestFromHeap(size); }
void operator delete(void* block) noexcept {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
