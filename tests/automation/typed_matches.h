#pragma once
// The pattern object with match collections that describe themselves, as the library's type
// library describes them on Windows (Wine 8's answer GetTypeInfo with E_NOTIMPL): while a
// TypedMatches lives, every "VBScript.RegExp" this process makes hands out from "Execute" a
// match collection, and from it matches and sub-match collections, that answer GetTypeInfo
// with type information built by CreateDispTypeInfo (Item(long), Count, Value, FirstIndex,
// Length, SubMatches) and check every call against it before passing it on to the real object.
#include <memory>

#include "tests/support/stand_ins.h"

namespace harvester::testing {

// What the typed objects were asked.
struct TypedMatchCalls {
  int typeInfos = 0;      // GetTypeInfo answered
  int namesAsked = 0;     // GetIDsOfNames: the by-name path
  int invokes = 0;        // Invoke of a declared member, as declared
  int undeclared = 0;     // Invoke of an id, kind or argument count the type information does not declare
  int itemIndexNotLong = 0;  // an Item index that arrived as another type than long
};

class TypedMatches {
 public:
  TypedMatches();
  bool Registered() const { return standIn_ && standIn_->Registered(); }
  const TypedMatchCalls& Calls() const { return *calls_; }

 private:
  std::shared_ptr<TypedMatchCalls> calls_ = std::make_shared<TypedMatchCalls>();
  std::unique_ptr<ClassStandIn> standIn_;
};

}  // namespace harvester::testing
