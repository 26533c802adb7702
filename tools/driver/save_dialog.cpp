#include "tools/driver/save_dialog.h"

#include <algorithm>

#include "tools/driver/console_text.h"

namespace harvester::driver {
namespace {

constexpr DWORD kAnswerMs = 5000;
constexpr int kFileNameCombo = 0x47C;  // cmb13 of the Explorer-style dialog
constexpr int kFileNameEdit = 0x480;   // edt1
constexpr int kFileTypeCombo = 0x470;  // cmb1

struct FileStamp {
  bool exists = false;
  FILETIME written = {};
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && CompareFileTime(&written, &other.written) == 0;
  }
};

FileStamp StampOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FileStamp stamp;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    stamp.exists = true;
    stamp.written = data.ftLastWriteTime;
  }
  return stamp;
}

BOOL CALLBACK FindEdit(HWND hwnd, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (lstrcmpiW(name, L"Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// The edit inside the file name combo (Wine nests it in a ComboBoxEx32), or the plain edit.
HWND FileNameBox(HWND dialog) {
  if (HWND combo = GetDlgItem(dialog, kFileNameCombo)) {
    HWND edit = nullptr;
    EnumChildWindows(combo, FindEdit, reinterpret_cast<LPARAM>(&edit));
    if (edit) return edit;
  }
  return GetDlgItem(dialog, kFileNameEdit);
}

std::wstring BoxText(HWND box) {
  std::wstring text(32768, L'\0');
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(box, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           kAnswerMs, &length))
    return {};
  text.resize(std::min<size_t>(length, text.size()));
  return text;
}

// The texts of a message box's static controls.
std::wstring MessageOf(HWND box) {
  std::wstring text;
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    const std::wstring part = BoxText(child);
    if (!part.empty()) text += (text.empty() ? L"" : L" ") + part;
  }
  std::replace(text.begin(), text.end(), L'\r', L' ');
  std::replace(text.begin(), text.end(), L'\n', L' ');
  return text;
}

void PostCommand(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Types the name until the box holds it: the dialog may still be filling its boxes at first.
void TypeName(HWND dialog, const std::wstring& path) {
  HWND box = nullptr;
  if (!WaitUntil(kAnswerMs, [&] { return (box = FileNameBox(dialog)) != nullptr; }))
    throw Failure{L"the save dialog has no file name box"};
  for (int attempt = 0; attempt < 5; ++attempt) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, kAnswerMs,
                        &result);
    Sleep(200);
    if (BoxText(box) == path) return;
  }
  throw Failure{L"the save dialog's file name box does not take the name"};
}

// After the dialog has gone: the program writes the file, or shows a box saying why it could not.
void AwaitWrite(DWORD processId, const std::wstring& target, const FileStamp& before, DWORD ms) {
  std::wstring refusal;
  const bool done = WaitUntil(ms, [&] {
    for (HWND box : DialogsOfProcess(processId)) {
      refusal = MessageOf(box);
      PostCommand(box, IDOK);
      return true;
    }
    const FileStamp now = StampOf(target);
    return now.exists && !(now == before);
  });
  if (!refusal.empty()) throw Failure{L"the harvester did not save: " + refusal};
  if (!done) throw Failure{L"the file " + target + L" was not written"};
}

}  // namespace

// Chooses the file type as a user picks it from the list: the dialog hears of the choice.
void ChooseType(HWND dialog, SavedType type) {
  const HWND combo = GetDlgItem(dialog, kFileTypeCombo);
  const WPARAM index = type == SavedType::kTable ? 1 : 0;
  DWORD_PTR result = 0;
  if (!combo ||
      !SendMessageTimeoutW(combo, CB_SETCURSEL, index, 0, SMTO_NORMAL, kAnswerMs, &result) || result != index)
    throw Failure{L"the save dialog does not offer the file type"};
  for (const WORD notification : {CBN_SELCHANGE, CBN_SELENDOK}) {  // what a choice in the list sends
    SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeCombo, notification), reinterpret_cast<LPARAM>(combo),
                        SMTO_NORMAL, kAnswerMs, &result);
  }
}

std::wstring Save(Session& session, const std::wstring& path, SavedType type) {
  const HWND main = FindMainWindow(session);
  const HWND list = FindControl(main, L"ListBox");
  RequireAnswer(main, kAnswerMs, L"the harvester's window");
  DWORD processId = 0;
  GetWindowThreadProcessId(main, &processId);
  // A dialog that is still closing is waited for; one that stays open is the user's.
  if (!WaitUntil(kAnswerMs, [&] { return DialogsOfProcess(processId).empty(); }))
    throw Failure{L"the harvester already shows a dialog"};
  const std::wstring target = WithDefaultExtension(path, type == SavedType::kTable ? L"csv" : L"txt");
  const FileStamp before = StampOf(target);

  if (type == SavedType::kTable) {
    PressCtrlKey(session, 'S');
  } else {
    // Posted, as the system queues a real press: the program saves on the queued press.
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 8));
    PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(8, 8));
  }
  HWND dialog = nullptr;
  if (!WaitUntil(session.timeoutMs, [&] {
        const std::vector<HWND> dialogs = DialogsOfProcess(processId);
        dialog = dialogs.empty() ? nullptr : dialogs.front();
        return dialog != nullptr;
      }))
    throw Failure{type == SavedType::kTable ? L"no save dialog came up after Ctrl+S"
                                            : L"no save dialog came up after the press on the result list"};
  RequireAnswer(dialog, kAnswerMs, L"the save dialog");
  ChooseType(dialog, type);
  TypeName(dialog, path);
  PostCommand(dialog, IDOK);

  // The dialog asks before it replaces a file; any other box it shows is a refusal.
  std::wstring refusal;
  std::vector<HWND> answered;
  const bool closed = WaitUntil(session.timeoutMs, [&] {
    for (HWND box : DialogsOfProcess(processId)) {
      if (box == dialog || std::find(answered.begin(), answered.end(), box) != answered.end()) continue;
      if (GetDlgItem(box, IDYES)) {
        PostCommand(box, IDYES);
        answered.push_back(box);
        continue;
      }
      refusal = MessageOf(box);
      PostCommand(box, IDOK);
      return true;
    }
    return !IsWindow(dialog) || !IsWindowVisible(dialog);
  });
  if (!refusal.empty() || !closed) {
    // Cancelled, so that the window is left as it was found.
    WaitUntil(kAnswerMs, [&] { return DialogsOfProcess(processId).size() <= 1; });
    PostCommand(dialog, IDCANCEL);
    WaitUntil(kAnswerMs, [&] { return DialogsOfProcess(processId).empty(); });
    throw Failure{refusal.empty() ? L"the save dialog did not close within the bound"
                                  : L"the save dialog refused the name: " + refusal};
  }
  AwaitWrite(processId, target, before, session.timeoutMs);
  return target;
}

}  // namespace harvester::driver
