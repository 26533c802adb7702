#pragma once
// What the driver prints, and the paths it is given: UTF-8 on pipes and files (so that a Linux
// terminal behind Wine shows the Chinese text), wide text on a console.
#include <string>
#include <string_view>

namespace harvester::driver {

// Writes text to standard output or standard error.
void WriteOut(std::wstring_view text);
void WriteErr(std::wstring_view text);

// A note on standard error: "driver: " + text and a line break.
void Note(std::wstring_view text);

// The Windows path of a path given on the command line: a Unix path (beginning with '/') is
// turned into its Wine drive path, anything else is made absolute.
std::wstring WindowsPath(const std::wstring& given);

// path itself when its file name has an extension, otherwise path + "." + extension: the name
// the save dialog writes with that file type chosen.
std::wstring WithDefaultExtension(const std::wstring& path, const wchar_t* extension);

}  // namespace harvester::driver
