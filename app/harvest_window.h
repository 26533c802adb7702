#pragma once
// The start button's operation: the harvest run worked off in the main window's controls.
#include <string>
#include <string_view>

#include "harvest/run_host.h"

namespace harvester {

// The run's host in the main window: the page count box, the off-screen link list as the
// work list, and the result list, addressed by their names in the loaded window. It stops
// when StopHarvestRun has been called during the run.
class WindowRunHost : public RunHost {
 public:
  std::string PageCountText() override;
  void ParkLink(std::string_view link) override;
  int ParkedLinkCount() override;
  std::string ParkedLink(int index) override;
  void DropParkedLinks() override;
  void AddResultLine(std::string_view line) override;
  void HoldLinkDrawing(bool hold) override;
  void HoldResultDrawing(bool hold) override;
  bool ShouldStop() override;
};

// Runs the harvest to its end on the GUI thread; the window does not react meanwhile (but for
// being closed), and the input made during the run is dropped when it ends.
void StartHarvestRun();

// Asks the run in progress to stop, as when its window goes: it ends at its next step, and the
// fetch it waits for is given up at once. Outside a run it does nothing; every run begins
// with no stop asked for.
void StopHarvestRun();

}  // namespace harvester
