#include "app/harvest_window.h"

#include "app/control_names.h"
#include "app/controls.h"
#include "app/events.h"
#include "harvest/harvest_run.h"

namespace harvester {
namespace {

struct RunState {
  bool running = false;
  bool stopAsked = false;
};
RunState g_run;

}  // namespace

std::string WindowRunHost::PageCountText() { return EditText(names::kPageCountBox); }

void WindowRunHost::ParkLink(std::string_view link) {
  const int item = ListViewInsertItem(names::kLinkList);
  ListViewSetText(names::kLinkList, item, 0, link);
}

int WindowRunHost::ParkedLinkCount() { return ListViewItemCount(names::kLinkList); }

std::string WindowRunHost::ParkedLink(int index) { return ListViewText(names::kLinkList, index, 0); }

void WindowRunHost::DropParkedLinks() { ListViewDeleteAll(names::kLinkList); }

void WindowRunHost::AddResultLine(std::string_view line) { ListBoxAddItem(names::kResultList, line); }

void WindowRunHost::HoldLinkDrawing(bool hold) { SetControlRedraw(names::kLinkList, !hold); }

void WindowRunHost::HoldResultDrawing(bool hold) { SetControlRedraw(names::kResultList, !hold); }

bool WindowRunHost::ShouldStop() { return g_run.stopAsked; }

void StopHarvestRun() {
  if (g_run.running) g_run.stopAsked = true;
}

void StartHarvestRun() {
  {
    g_run = {true, false};
    struct EndOfRun {
      ~EndOfRun() { g_run = {}; }
    } endOfRun;
    const EscapeClosesMeanwhile escape;  // the run's waits take the keys, and Escape still closes
    WindowRunHost host;
    HarvestRun(host);
  }
  // Clicks and keys made while the window was frozen were meant for a window that did not
  // answer; acting on them now would start another run or open the save dialog unasked.
  DiscardQueuedInput();
}

}  // namespace harvester
