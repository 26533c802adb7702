// driver: works the harvester's window from outside, as a user would, one command after another.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "tools/driver/console_text.h"
#include "tools/driver/harvester_window.h"
#include "tools/driver/save_dialog.h"

namespace harvester::driver {
namespace {

constexpr wchar_t kUsage[] =
    L"usage: driver [--pid N] [--desktop NAME] [--timeout S] COMMAND [COMMAND ...]\n"
    L"Works the window of a running harvester.exe; the commands run in the order given.\n"
    L"  wait       wait until the main window is there and answers\n"
    L"  press      click the start button (开始采集) and return when the run has ended (at most\n"
    L"             10 minutes). Should the program close its window at the end of the run, the\n"
    L"             result list is kept as it was at that moment for a later `lines`\n"
    L"  lines      print every line of the result list, as UTF-8, one per line\n"
    L"  save PATH  press the result list and save through its dialog to PATH (a Windows or a\n"
    L"             Unix path; without an extension the dialog adds .txt); prints the file's path\n"
    L"  save-csv PATH\n"
    L"             Ctrl+S in the window, and save the table (CSV) through the dialog to PATH\n"
    L"             (without an extension the dialog adds .csv); prints the file's path\n"
    L"  copy       Ctrl+C in the window; print the text it put on the clipboard, as UTF-8, one\n"
    L"             line each\n"
    L"  menu       right-press the result list and wait until its context menu shows\n"
    L"  menu-close close the open context menu with Escape\n"
    L"  close      close the main window and wait until it has gone\n"
    L"Options:\n"
    L"  --pid N        only the window of process N (a Windows process id)\n"
    L"  --desktop NAME look on that desktop (default: this one, then any other that has the window)\n"
    L"  --timeout S    bound of every search and wait, in seconds (default 60)\n"
    L"Exit code 0 when every command succeeded, 1 when one failed (the reason on standard error),\n"
    L"2 on a usage error.\n";

bool ParseNumber(const wchar_t* text, unsigned long long high, unsigned long long& value) {
  wchar_t* end = nullptr;
  value = std::wcstoull(text, &end, 10);
  return end != text && *end == L'\0' && value >= 1 && value <= high;
}

struct Command {
  std::wstring name;
  std::wstring argument;
};

// The options go into session; false on a usage error.
bool ParseArguments(int argc, wchar_t** argv, Session& session, std::vector<Command>& commands) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring word = argv[i];
    const bool hasValue = i + 1 < argc;
    unsigned long long value = 0;
    if (word == L"--pid" && hasValue && ParseNumber(argv[i + 1], 0xFFFFFFFFull, value)) {
      session.processId = static_cast<DWORD>(value);
      ++i;
    } else if (word == L"--timeout" && hasValue && ParseNumber(argv[i + 1], 3600, value)) {
      session.timeoutMs = static_cast<DWORD>(value * 1000);
      ++i;
    } else if (word == L"--desktop" && hasValue) {
      session.desktop = argv[++i];
    } else if (word == L"wait" || word == L"press" || word == L"lines" || word == L"close" || word == L"copy" ||
               word == L"menu" || word == L"menu-close") {
      commands.push_back({word, {}});
    } else if ((word == L"save" || word == L"save-csv") && hasValue) {
      commands.push_back({word, argv[++i]});
    } else {
      return false;
    }
  }
  return !commands.empty();
}

void WriteLines(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (const std::wstring& line : lines) text += line + L"\n";
  WriteOut(text);
}

// The lines of text that the clipboard holds, CR LF between them.
std::vector<std::wstring> ClipboardLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  if (text.empty()) return lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

void Run(Session& session, const Command& command) {
  if (command.name == L"wait") {
    const HWND main = FindMainWindow(session);
    RequireAnswer(main, session.timeoutMs, L"the harvester's window");
  } else if (command.name == L"press") {
    Press(session);
  } else if (command.name == L"lines") {
    WriteLines(ListBoxLines(FindControl(FindMainWindow(session), L"ListBox")));
  } else if (command.name == L"copy") {
    WriteLines(ClipboardLines(CopyResults(session)));
  } else if (command.name == L"menu") {
    OpenListMenu(session);
  } else if (command.name == L"menu-close") {
    CloseListMenu(session);
  } else if (command.name == L"save" || command.name == L"save-csv") {
    const SavedType type = command.name == L"save" ? SavedType::kText : SavedType::kTable;
    WriteOut(Save(session, WindowsPath(command.argument), type) + L"\n");
  } else if (command.name == L"close") {
    Close(session);
  }
}

}  // namespace
}  // namespace harvester::driver

int wmain(int argc, wchar_t** argv) {
  using namespace harvester::driver;
  Session session;
  std::vector<Command> commands;
  if (!ParseArguments(argc, argv, session, commands)) {
    WriteErr(kUsage);
    return 2;
  }
  for (const Command& command : commands) {
    try {
      Run(session, command);
    } catch (const Failure& failure) {
      Note(command.name + L": " + failure.message);
      return 1;
    }
  }
  return 0;
}
