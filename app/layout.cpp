#include "app/layout.h"

#include <commctrl.h>

#include "app/control_names.h"
#include "app/copy_results.h"
#include "app/harvest_window.h"
#include "app/save_results.h"

namespace harvester {
namespace {

std::optional<bool> OnStartClicked(std::span<const std::int32_t>) {
  StartHarvestRun();
  return std::nullopt;
}

std::optional<bool> OnResultListLeftDown(std::span<const std::int32_t> args) {
  SaveResults(args[0], args[1], args[2]);
  return std::nullopt;
}

void SaveResultsCommand() { SaveResults(0, 0, 0); }

constexpr EventBinding kStartButtonBindings[] = {{kEventClicked, OnStartClicked}};
constexpr EventBinding kResultListBindings[] = {{kEventLeftDown, OnResultListLeftDown}};

constexpr char kDefaultAddress[] = "http://www.example.com/danbaobaoxiantouzi/";
constexpr char kInstructions[] =
    "操作步骤：\r\n"
    "\r\n"
    "1. 在表格中右键单击，导入txt文件。\r\n"
    "2.在IP设置选项，进行切换IP和发帖顶贴的时间间隔设置\r\n"
    "3. 点击发帖";

constexpr DWORD kSingleLineEdit = ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kMultiLineEdit = ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
constexpr DWORD kResultListStyle = LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
constexpr DWORD kLinkListStyle = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
constexpr DWORD kPushButton = BS_PUSHBUTTON | BS_CENTER | BS_VCENTER;

// Each ID is 1000 plus the row number; the file dialog has no window and no ID.
constexpr ControlLayout kControls[] = {
    {names::kPageCountBox, 1001, ControlKind::EditBox, 56, 16, 56, 24, kSingleLineEdit, WS_EX_CLIENTEDGE, true, false,
     true, "1", {}},
    {names::kCaptionLabel, 1002, ControlKind::Label, 16, 16, 176, 24, 0, 0, true, true, false,
     "共采集            页", {}},
    {names::kFileDialog, 0, ControlKind::CommonDlg, 152, 152, 26, 26, 0, 0, false, false, false, "", {}},
    {names::kResultList, 1004, ControlKind::ListBox, 16, 56, 416, 264, kResultListStyle, WS_EX_CLIENTEDGE, true, true,
     true, "", kResultListBindings},
    {names::kLinkList, 1005, ControlKind::ListView, 448, 40, 208, 256, kLinkListStyle, WS_EX_CLIENTEDGE, true, true,
     true, "", {}},
    {names::kAddressBox, 1006, ControlKind::EditBox, -216, -16, 176, 24, kSingleLineEdit, WS_EX_CLIENTEDGE, true, true,
     true, kDefaultAddress, {}},
    {names::kStartButton, 1007, ControlKind::Button, 224, 16, 112, 24, kPushButton, 0, true, true, true, "开始采集",
     kStartButtonBindings},
    {names::kInstructionBox, 1008, ControlKind::EditBox, 328, 417, 552, 72, kMultiLineEdit, 0, true, true, true,
     kInstructions, {}},
};
static_assert(ControlIdsAreSound(kControls));

constexpr MenuLayout kMenus[] = {
    {"菜单a", false, {"批量导入账号", "删除选中账号", "清空账号"}},
    {"菜单b", false, {"批量导入账号2", "删除选中账号2", "清空账号2"}},
    {"菜单c", false, {"批量导入账号3", "删除选中账号3", "清空账号3"}},
};

// The results' ways out beside the press on the list: Ctrl+C and Ctrl+S, and the list's context menu.
constexpr WindowCommand kCommands[] = {
    {"复制全部结果", 'C', CopyResults},
    {"保存结果…", 'S', SaveResultsCommand},
};

constexpr WindowLayout kMainWindow = {
    "Orvel手机号码采集器", 447, 381, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
    kControls, kMenus, names::kResultList, kCommands,
};

}  // namespace

const WindowLayout& MainWindowLayout() { return kMainWindow; }

}  // namespace harvester
