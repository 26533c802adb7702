#pragma once
// Type binding of the late-bound calls: the member a name binds to under an operation's
// invocation kinds, with its parameters as the object's type information declares them.
#include <span>
#include <string_view>
#include <vector>

#include <oaidl.h>

namespace harvester::calls_internal {

enum class Operation { Read, Write, Call };

// The invocation kinds an operation tries, in order, until the name binds.
std::span<const INVOKEKIND> BindingOrder(Operation operation);

// A parameter's type as read from the object's type information.
struct ParamType {
  bool declared = false;  // false: the object told nothing about this parameter
  VARTYPE type = VT_VARIANT;
  bool byRef = false;
  bool isArray = false;
  bool out = false;
  bool interfaceRef = false;  // a user-defined interface, where a pointer is the reference itself
};

// What the bound name gives the call.
struct Member {
  DISPID id = DISPID_UNKNOWN;
  WORD flags = DISPATCH_METHOD;
  bool typed = false;  // false for objects without type information: no declared parameters
  std::vector<ParamType> params;
  bool varArgs = false;

  // The declared parameter of argument index (extra arguments of a variable list take the last
  // one's); an undeclared one for untyped members.
  const ParamType& ParamOf(size_t index) const;
};

// Binds the name through the object's type information; objects without it (or without an
// ITypeComp) are asked for the member's id by name instead and get no declared parameters.
// kCallOk, kNameNotBound or kNoTypeInfo.
int FindMember(IDispatch* dispatch, std::string_view name, Operation operation, LCID lcid, Member& member);

}  // namespace harvester::calls_internal
