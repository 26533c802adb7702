#include "base/dll_functions.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "base/fatal_error.h"
#include "base/owners.h"
#include "base/text_codec.h"

namespace harvester {
namespace {

constexpr const char* kDefaultLibraries[] = {"Kernel32.dll", "Gdi32.dll", "User32.dll",
                                             "Advapi32.dll", "Mpr.dll",   "Shell32.dll"};

// Libraries that gave a function; they stay loaded until the program ends.
std::vector<UniqueModule>& LoadedLibraries() {
  static std::vector<UniqueModule> libraries;
  return libraries;
}

// The address of function in library, the library kept loaded; nullptr (library released) if absent.
void* LoadFrom(const char* library, const char* function) {
  UniqueModule module(LoadLibraryW(TextToWide(library).c_str()));
  if (!module) return nullptr;
  void* address = reinterpret_cast<void*>(GetProcAddress(module.Get(), function));
  if (address) LoadedLibraries().push_back(std::move(module));
  return address;
}

}  // namespace

std::string MissingDllFunctionText(const char* library, const char* function) {
  std::string text;
  if (library && *library) {
    text = "无法找到指定DLL库文件“";
    text += library;
    text += "”中的输出命令“";
  } else {
    text = "无法找到指定DLL库文件中的输出命令“";
  }
  text += function ? function : "";
  text += "”";
  return text;
}

void* LookUpDllFunction(const char* library, const char* function) {
  void* address = nullptr;
  if (library && *library) {
    address = LoadFrom(library, function);
  } else {
    for (const char* candidate : kDefaultLibraries)
      if ((address = LoadFrom(candidate, function)) != nullptr) break;
  }
  if (!address) ReportFatalError(MissingDllFunctionText(library, function), 0);
  return address;
}

void ReleaseDllLibraries() {
  LoadedLibraries().clear();
}

}  // namespace harvester
