#pragma once
// What the harvest run needs of the window it works in, and nothing more: the run knows no
// window, no control and no message. The window's side binds these to its controls.
#include <string>
#include <string_view>

namespace harvester {

// The run's own steps, for a host that wants to know where the time goes: each is reported
// once it is done, before the next step or host call begins.
enum class RunStep {
  kFetched,    // a page was fetched (its request object made, sent, waited for, read)
  kConverted,  // a fetched body was turned into program text
  kSearched,   // a pattern search, or a capture read from its matches
  kCut,        // a listing's title and contact were cut out
};

class RunHost {
 public:
  // The page count as the user sees it, asked before every list page.
  virtual std::string PageCountText() = 0;

  // The work list of the current list page: links are parked in document order, read back by
  // 0-based index, and all dropped when the page is done.
  virtual void ParkLink(std::string_view link) = 0;
  virtual int ParkedLinkCount() = 0;
  virtual std::string ParkedLink(int index) = 0;
  virtual void DropParkedLinks() = 0;

  // Appends one result line.
  virtual void AddResultLine(std::string_view line) = 0;

  // Drawing the lists as they change costs far more than the change; the run holds it while it
  // works. True holds, false draws the list as it is now and goes on drawing its changes.
  virtual void HoldLinkDrawing(bool hold) = 0;
  virtual void HoldResultDrawing(bool hold) = 0;

  // True once whoever started the run no longer wants it (the window is closing): the run
  // stops at its next step, and a fetch in progress is given up.
  virtual bool ShouldStop() = 0;

  virtual void StepDone(RunStep) {}

 protected:
  ~RunHost() = default;
};

}  // namespace harvester
