#pragma once
// The names of the main window's controls, as the layout gives them: the run, the save and the
// tests address the controls by these.
namespace harvester::names {

inline constexpr char kPageCountBox[] = "编辑框2";   // the number of list pages a run covers
inline constexpr char kCaptionLabel[] = "标签2";     // "共采集 … 页" around the page count box
inline constexpr char kFileDialog[] = "通用对话框1";  // the save dialog, no window of its own
inline constexpr char kResultList[] = "列表框1";     // the result lines; a left press saves them
inline constexpr char kLinkList[] = "超级列表框3";   // the run's work list of listing links
inline constexpr char kAddressBox[] = "编辑框1";     // a default address nothing reads
inline constexpr char kStartButton[] = "按钮1";      // starts the run
inline constexpr char kInstructionBox[] = "编辑框5"; // an instruction text nothing reads

}  // namespace harvester::names
