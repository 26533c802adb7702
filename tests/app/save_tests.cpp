// Saving the result list: what the dialog is asked, what reaches the disk, and that a failed
// save keeps the old file and says so.
#include <windows.h>

#include <commdlg.h>
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/control_names.h"
#include "app/controls.h"
#include "app/file_dialog.h"
#include "app/main_window.h"
#include "app/save_results.h"
#include "tests/support/test_support.h"

namespace harvester {
namespace {

using testing::FileBytes;
using testing::PumpFor;
using testing::Text;
using testing::Wide;

// What the dialog received, and how the test answers it.
struct DialogSeen {
  DWORD flags;
  std::wstring filter;  // with its NULs, up to the double NUL
  DWORD filterIndex;
  std::wstring initialName;
  std::optional<std::wstring> defaultExtension;
  bool hasTitle, hasInitialFolder;
  HWND owner;
};
std::vector<DialogSeen> g_dialogs;
std::optional<std::wstring> g_answer;  // nullopt: the user cancels
DWORD g_type = 0;                      // the file type the user picks; 0 leaves the one shown
std::vector<std::string> g_addDuringDialog;
std::vector<std::pair<std::wstring, std::wstring>> g_failures;

BOOL AnswerDialog(OPENFILENAMEW* settings) {
  DialogSeen seen{};
  seen.flags = settings->Flags;
  if (settings->lpstrFilter) {
    const wchar_t* end = settings->lpstrFilter;
    while (end[0] || end[1]) ++end;
    seen.filter.assign(settings->lpstrFilter, end + 2);
  }
  seen.filterIndex = settings->nFilterIndex;
  seen.initialName = settings->lpstrFile;
  if (settings->lpstrDefExt) seen.defaultExtension = settings->lpstrDefExt;
  seen.hasTitle = settings->lpstrTitle != nullptr;
  seen.hasInitialFolder = settings->lpstrInitialDir != nullptr;
  seen.owner = settings->hwndOwner;
  g_dialogs.push_back(seen);
  for (const std::string& line : g_addDuringDialog) ListBoxAddItem(names::kResultList, line);
  if (!g_answer || g_answer->size() >= settings->nMaxFile) return FALSE;
  wcscpy(settings->lpstrFile, g_answer->c_str());
  if (g_type) settings->nFilterIndex = g_type;
  return TRUE;
}

void PutFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.push_back(data.cFileName);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return names;
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dialogs.clear();
    g_answer.reset();
    g_type = 0;
    g_addDuringDialog.clear();
    g_failures.clear();
    SetFileDialogFunction(AnswerDialog);
    SetSaveFailureFunction([](const std::wstring& text, const std::wstring& caption) {
      g_failures.emplace_back(text, caption);
    });
    folder_ = testing::TemporaryFolder() + L"harvester-save-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    window_ = CreateProgramWindow(MainWindowLayout(), SW_SHOWNOACTIVATE);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    DestroyAllProgramWindows();
    SetFileDialogFunction(nullptr);
    SetSaveFailureFunction(nullptr);
    SetSaveFileOperations(nullptr);
    for (const std::wstring& name : FolderEntries(folder_)) {
      SetFileAttributesW((folder_ + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW((folder_ + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }
  void AddLines(std::initializer_list<const char*> lines) {
    for (const char* line : lines) ASSERT_GE(ListBoxAddItem(names::kResultList, line), 0);
  }
  // A left press on the result list, as the user gives it.
  void PressList() {
    HWND list = FindControl(*window_, names::kResultList)->hwnd;
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 30));
    PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(30, 30));
    PumpFor(30);
  }

  std::wstring folder_;
  ProgramWindow* window_ = nullptr;
};

TEST_F(SaveTest, DialogIsASaveDialogForTextFiles) {
  PressList();
  ASSERT_EQ(g_dialogs.size(), 1u);
  const DialogSeen& seen = g_dialogs[0];
  EXPECT_EQ(seen.flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST));
  EXPECT_EQ(seen.filter, std::wstring(L"txt\0*.txt\0CSV\0*.csv\0\0", 21));
  EXPECT_EQ(seen.filterIndex, 1u);
  EXPECT_EQ(seen.initialName, L"");
  EXPECT_EQ(seen.defaultExtension, std::optional<std::wstring>(L"txt"));
  EXPECT_FALSE(seen.hasTitle);
  EXPECT_FALSE(seen.hasInitialFolder);
  EXPECT_EQ(seen.owner, window_->hwnd);
  EXPECT_EQ(MainFileDialog()->kind, 1);
  EXPECT_EQ(MainFileDialog()->filter, "txt|*.txt|CSV|*.csv");
}

TEST_F(SaveTest, WritesTheLinesAsTheListHoldsThemToTheConfirmedPath) {
  struct Row {
    std::vector<const char*> lines;
    std::string bytes;
  };
  const Row rows[] = {
      {{"a", "b", "c"}, "a\r\nb\r\nc\r\n"},
      {{}, ""},
      {{"联系人：张三", "电话：13912345678"}, "联系人：张三\r\n电话：13912345678\r\n"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SendMessageW(FindControl(*window_, names::kResultList)->hwnd, LB_RESETCONTENT, 0, 0);
    for (const char* line : row.lines) ListBoxAddItem(names::kResultList, line);
    g_answer = In(L"results" + std::to_wstring(++n) + L".txt");
    PressList();
    EXPECT_EQ(FileBytes(*g_answer), row.bytes) << n;  // narrow literals here are GBK already
    EXPECT_EQ(MainFileDialog()->fileName, *g_answer);
  }
  EXPECT_EQ(FileBytes(In(L"results3.txt")).value_or("").size(), 12u + 2 + 17 + 2);
  EXPECT_EQ(FolderEntries(folder_).size(), 3u);  // no temporary file left, no ".txt.txt"
  EXPECT_TRUE(g_failures.empty());
}

// The second file type: the table in UTF-8 with a byte order mark, a row for each number; the
// next dialog opens with that type.
TEST_F(SaveTest, SecondFileTypeWritesTheTableAsUtf8) {
  AddLines({"联系人：张三", "标题文本：出售, \"九成新\"\r\n自提", "电话：1", "电话：2",
            "联系人：李四", "标题文本：求购"});
  g_answer = In(L"table.csv");
  g_type = 2;
  PressList();
  const std::u8string table =
      u8"\uFEFF联系人,标题,电话\r\n"
      u8"张三,\"出售, \"\"九成新\"\"\r\n自提\",1\r\n"
      u8"张三,\"出售, \"\"九成新\"\"\r\n自提\",2\r\n"
      u8"李四,求购,\r\n";
  EXPECT_EQ(FileBytes(In(L"table.csv")), std::string(table.begin(), table.end()));
  g_type = 0;
  PressList();
  ASSERT_EQ(g_dialogs.size(), 2u);
  EXPECT_EQ(g_dialogs[1].filterIndex, 2u);
}

TEST_F(SaveTest, SecondSaveOpensWithTheFirstPathAndReplacesTheFile) {
  AddLines({"one"});
  g_answer = In(L"keep.txt");
  PressList();
  AddLines({"two"});
  PressList();
  ASSERT_EQ(g_dialogs.size(), 2u);
  EXPECT_EQ(g_dialogs[1].initialName, In(L"keep.txt"));
  EXPECT_EQ(FileBytes(In(L"keep.txt")), "one\r\ntwo\r\n");
}

TEST_F(SaveTest, CancelWritesNothingAndKeepsTheEarlierFile) {
  AddLines({"x"});
  PressList();  // cancelled first save
  EXPECT_TRUE(FolderEntries(folder_).empty());
  EXPECT_EQ(MainFileDialog()->fileName, L"");
  g_answer = In(L"earlier.txt");
  PressList();
  AddLines({"y"});
  g_answer.reset();
  PressList();
  EXPECT_EQ(FileBytes(In(L"earlier.txt")), "x\r\n");
  EXPECT_EQ(MainFileDialog()->fileName, In(L"earlier.txt"));
}

TEST_F(SaveTest, WritesTheListAsItStoodAtThePress) {
  AddLines({"before"});
  g_addDuringDialog = {"during"};
  g_answer = In(L"snapshot.txt");
  PressList();
  EXPECT_EQ(FileBytes(In(L"snapshot.txt")), "before\r\n");
}

TEST_F(SaveTest, NameOutsideTheTextCodePageIsWrittenUnderThatName) {
  AddLines({"z"});
  const std::wstring name = L"r\u00e9sultat-\u05e9\u0430\u0431.txt";  // é, Hebrew and Cyrillic
  g_answer = In(name);
  PressList();
  const std::vector<std::wstring> entries = FolderEntries(folder_);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], name);
  EXPECT_EQ(FileBytes(In(name)), "z\r\n");
}

// File operations that fail as a full disk or a target in use fails them, once the new file
// exists; the write fails after half of its bytes.
HANDLE WINAPI CreateFails(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI WriteFailsHalfWay(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  WriteFile(file, bytes, size / 2, written, overlapped);
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}
BOOL WINAPI FlushFails(HANDLE) {
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}
BOOL WINAPI ReplaceFails(LPCWSTR, LPCWSTR, DWORD) {
  SetLastError(ERROR_SHARING_VIOLATION);
  return FALSE;
}

TEST_F(SaveTest, FailedSaveKeepsTheOldFileLeavesNoTemporaryAndSaysWhy) {
  AddLines({"new content"});
  struct Case {
    std::string what;
    std::wstring path;
    std::function<void()> prepare;
    bool existed = true;  // the target held "old" before
    DWORD error = 0;      // the error the box names; 0 for whatever the system says
  };
  HANDLE held = INVALID_HANDLE_VALUE;
  const std::wstring readOnly = In(L"readonly.txt");
  const std::wstring busy = In(L"busy.txt");
  std::vector<Case> cases = {
      {"read-only file", readOnly,
       [&] {
         PutFile(readOnly, "old");
         SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
       }},
      {"folder that is gone", In(L"gone\\results.txt"), [] {}, false},
      {"file held open without sharing", busy,
       [&] {
         PutFile(busy, "old");
         held = CreateFileW(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         ASSERT_NE(held, INVALID_HANDLE_VALUE);
       }},
  };
  // Each step of making the new file fails, over an existing target and over none.
  struct Step {
    const char* what;
    SaveFileOperations operations;
    DWORD error;
  };
  const Step steps[] = {
      {"creating", {CreateFails, WriteFile, FlushFileBuffers, MoveFileExW}, ERROR_TOO_MANY_OPEN_FILES},
      {"writing", {CreateFileW, WriteFailsHalfWay, FlushFileBuffers, MoveFileExW}, ERROR_DISK_FULL},
      {"flushing", {CreateFileW, WriteFile, FlushFails, MoveFileExW}, ERROR_DISK_FULL},
      {"replacing", {CreateFileW, WriteFile, FlushFileBuffers, ReplaceFails}, ERROR_SHARING_VIOLATION},
  };
  for (const Step& step : steps) {
    for (const bool existed : {true, false}) {
      const std::wstring path = In(Wide(step.what) + (existed ? L"-old.txt" : L"-new.txt"));
      cases.push_back({std::string(step.what) + " fails" + (existed ? " over an old file" : ""), path,
                       [&step, path, existed] {
                         if (existed) PutFile(path, "old");
                         SetSaveFileOperations(&step.operations);
                       },
                       existed, step.error});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_failures.clear();
    c.prepare();
    const std::vector<std::wstring> before = FolderEntries(folder_);
    g_answer = c.path;
    PressList();
    SetSaveFileOperations(nullptr);
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
    }
    EXPECT_EQ(FileBytes(c.path), c.existed ? std::optional<std::string>("old") : std::nullopt);
    EXPECT_EQ(FolderEntries(folder_), before);
    ASSERT_EQ(g_failures.size(), 1u);
    const std::wstring prefix = Wide("保存失败：") + c.path + L"\r\n";
    EXPECT_EQ(g_failures[0].first.substr(0, prefix.size()), prefix);
    EXPECT_GT(g_failures[0].first.size(), prefix.size());  // the system's description follows
    if (c.error) EXPECT_EQ(g_failures[0].first, SaveFailureText(c.path, c.error));
    EXPECT_EQ(g_failures[0].second, Wide("保存结果"));
  }
}

// The real dialog of the system, answered by a second thread as a user would.
struct DialogAnswer {
  DWORD guiThread;
  std::wstring typeName;
  bool confirmReplace = false;  // the dialog will ask whether to replace the file
  std::wstring shownName;  // what the file name box showed when the dialog opened
  bool answered = false;
  bool replaceConfirmed = false;
};

struct DialogSearch {
  HWND except;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (hwnd != search->except && wcscmp(name, L"#32770") == 0 && IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForDialog(DWORD thread, HWND except) {
  const ULONGLONG end = GetTickCount64() + 20000;
  while (GetTickCount64() < end) {
    DialogSearch search{except, nullptr};
    EnumThreadWindows(thread, FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(50);
  }
  return nullptr;
}

// The file name box of the system dialog: the edit inside control 0x47c (a combo box, in
// Wine's dialog inside a ComboBoxEx), or edit 0x480 of the older layout.
HWND FileNameBox(HWND dialog) {
  HWND box = GetDlgItem(dialog, 0x47c);
  for (int depth = 0; box && depth < 3; ++depth) {
    wchar_t name[16] = {};
    GetClassNameW(box, name, 16);
    if (wcscmp(name, L"Edit") == 0) return box;
    box = FindWindowExW(box, nullptr, nullptr, nullptr);
  }
  return GetDlgItem(dialog, 0x480);
}

void AnswerRealDialog(DialogAnswer* answer) {
  HWND dialog = WaitForDialog(answer->guiThread, nullptr);
  if (!dialog) return;
  Sleep(300);  // let it finish filling its boxes
  HWND box = FileNameBox(dialog);
  if (!box) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // never leave the test hanging
    return;
  }
  wchar_t shown[1024] = {};
  GetWindowTextW(box, shown, 1024);
  answer->shownName = shown;
  SetWindowTextW(box, answer->typeName.c_str());
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  answer->answered = true;
  if (!answer->confirmReplace) return;
  if (HWND question = WaitForDialog(answer->guiThread, dialog)) {
    Sleep(200);
    PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    answer->replaceConfirmed = true;
  }
}

TEST_F(SaveTest, ThroughTheSystemDialog) {
  SetFileDialogFunction(nullptr);
  AddLines({"联系人：李四", "标题文本：出售"});
  DialogAnswer answer{GetCurrentThreadId(), In(L"typed")};  // no extension typed
  std::thread user(AnswerRealDialog, &answer);
  PressList();
  user.join();
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.shownName, L"");
  EXPECT_EQ(MainFileDialog()->fileName, In(L"typed.txt"));
  EXPECT_EQ(FileBytes(In(L"typed.txt")), "联系人：李四\r\n标题文本：出售\r\n");

  AddLines({"电话：13700000000"});
  // The second dialog opens with the first path; replacing the file asks first, and the
  // question is answered with Yes.
  DialogAnswer second{GetCurrentThreadId(), In(L"typed.txt"), true};
  std::thread again(AnswerRealDialog, &second);
  PressList();
  again.join();
  ASSERT_TRUE(second.answered);
  EXPECT_TRUE(second.replaceConfirmed);
  EXPECT_NE(second.shownName.find(L"typed.txt"), std::wstring::npos) << second.shownName;
  EXPECT_EQ(FileBytes(In(L"typed.txt")), "联系人：李四\r\n标题文本：出售\r\n电话：13700000000\r\n");
}

}  // namespace
}  // namespace harvester
