// Provisional lookup by name until the program's own lookup lands: libraries are loaded on
// first use and kept until ReleaseDllLibraries; a missing function ends the program.
#include "automation/dll_functions.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/fatal_error.h"

namespace harvester {

namespace {

std::vector<std::pair<std::string, HMODULE>>& LoadedLibraries() {
  static std::vector<std::pair<std::string, HMODULE>> libraries;
  return libraries;
}

HMODULE Library(const char* name) {
  for (const auto& [loadedName, module] : LoadedLibraries()) {
    if (lstrcmpiA(loadedName.c_str(), name) == 0) return module;
  }
  HMODULE module = LoadLibraryA(name);
  if (module) LoadedLibraries().emplace_back(name, module);
  return module;
}

}  // namespace

void* LookUpDllFunction(const char* library, const char* function) {
  static const char* const kDefaultLibraries[] = {"Kernel32.dll", "Gdi32.dll", "User32.dll",
                                                  "Advapi32.dll", "Mpr.dll",   "Shell32.dll"};
  if (library && *library) {
    if (HMODULE module = Library(library)) {
      if (FARPROC address = GetProcAddress(module, function)) return reinterpret_cast<void*>(address);
    }
  } else {
    for (const char* name : kDefaultLibraries) {
      HMODULE module = Library(name);
      if (FARPROC address = module ? GetProcAddress(module, function) : nullptr) {
        return reinterpret_cast<void*>(address);
      }
    }
  }
  ReportFatalError(function ? function : "", 0);
}

void ReleaseDllLibraries() {
  for (const auto& [name, module] : LoadedLibraries()) FreeLibrary(module);
  LoadedLibraries().clear();
}

}  // namespace harvester
