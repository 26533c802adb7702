#pragma once
// Counts the references of the platform's automation objects. AddRef and Release in the
// interface tables of the kinds being watched (every object of a kind shares its table) are
// wrapped; each call's result is the object's new reference count, so after a run every object
// that was ever handed to anyone is either seen released to zero or still counted alive.
#include <unknwn.h>

#include <string>

namespace harvester::testing {

struct CensusCount {
  long seen = 0;       // distinct objects whose references moved while counting
  long destroyed = 0;  // of them, released to zero
  long alive = 0;      // of them, still holding references
};

// Wraps the table of sample's interface; objects of the same kind are watched from now on.
// False when no table is left or the table cannot be written.
bool WatchKindOf(IUnknown* sample);
// Watches every kind of platform object the run handles: the request object, the pattern
// object, its match collection, a match and a match's groups. On failure, says which in failure.
bool WatchPlatformKinds(std::string& failure);
// Puts every wrapped table back.
void UnwatchAll();

// Forgets what was counted and starts counting.
void StartCensus();
// Stops counting and returns the counts since StartCensus.
CensusCount StopCensus();

}  // namespace harvester::testing
