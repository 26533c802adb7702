#pragma once
// Argument building of the late-bound calls: the caller's values as the VARIANTs of one call,
// in the object's reverse order, and the copy back of [out] arguments afterwards.
#include <cstddef>
#include <vector>

#include <oaidl.h>

#include "automation/call_binding.h"
#include "automation/calls.h"

namespace harvester::calls_internal {

// VARIANTs that are cleared when the owner goes.
class VariantList {
 public:
  explicit VariantList(size_t count);
  ~VariantList();
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;
  VARIANT& operator[](size_t index) { return items_[index]; }
  VARIANT* Data() { return items_.data(); }

 private:
  std::vector<VARIANT> items_;
};

// The arguments of one call, built for the object in reverse order, with the temporaries that
// by-reference parameters point into.
struct CallArguments {
  explicit CallArguments(size_t count);
  VariantList values;       // values[count - 1 - i] is argument i
  VariantList temporaries;  // temporaries[i] belongs to argument i
  std::vector<DECIMAL> decimals;  // what a DECIMAL temporary passes by reference
  std::vector<bool> byReference;
};

// Checks the first count arguments against the member's declared parameters and builds each
// one; kCallOk or kBadArgKind.
int BuildArguments(const Member& member, const Args& args, size_t count, CallArguments& built);

// After a successful call: every argument the caller gave by reference that went to the object
// by reference, where the parameter is marked [out], converted back into the caller's variable
// (a value that does not convert leaves the variable as it was).
void CopyBack(const Member& member, const Args& args, size_t count, CallArguments& built);

}  // namespace harvester::calls_internal
