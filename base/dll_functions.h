#pragma once
// Platform functions called by name: looked up at their first call, the address kept for later
// calls, their libraries kept loaded until ReleaseDllLibraries (at program end). A function that
// cannot be found ends the program through the fatal-error box.
#include <string>
#include <utility>

namespace harvester {

// Returns the address of function in library; an empty library searches the default list
// ("Kernel32.dll", "Gdi32.dll", "User32.dll", "Advapi32.dll", "Mpr.dll", "Shell32.dll").
void* LookUpDllFunction(const char* library, const char* function);

// Frees every library loaded by LookUpDllFunction.
void ReleaseDllLibraries();

// The fatal-error text for a function that cannot be found (library empty: the default list).
std::string MissingDllFunctionText(const char* library, const char* function);

// Calls go through a pointer of the function's own type. On x64 there is one calling convention
// and the callee cannot leave the stack unbalanced for such a call, so no stack-depth comparison
// is made after it: it could never fire.

template <typename Signature>
class DllFunction;

template <typename R, typename... A>
class DllFunction<R __stdcall(A...)> {
 public:
  constexpr DllFunction(const char* library, const char* function) : library_(library), function_(function) {}
  R operator()(A... args) {
    if (!address_) address_ = reinterpret_cast<R(__stdcall*)(A...)>(LookUpDllFunction(library_, function_));
    return address_(std::forward<A>(args)...);
  }

 private:
  const char* library_;
  const char* function_;
  R(__stdcall* address_)(A...) = nullptr;
};

}  // namespace harvester
