#include "automation/regex_object.h"

#include <windows.h>
#include <objbase.h>

#include "automation/calls.h"
#include "automation/dll_functions.h"
#include "automation/pattern_text.h"

namespace harvester {

namespace {

DllFunction<HRESULT __stdcall(LPVOID)> coInitialize("Ole32.dll", "CoInitialize");
DllFunction<void __stdcall()> coUninitialize("Ole32.dll", "CoUninitialize");

int Truncated(double value) { return static_cast<int>(value); }

// The byte offset of text in subject, scanned from the match's "FirstIndex" (a UTF-16 index, so
// at or before the byte offset in double-byte text). Letter case counts: the found text is the
// object's own copy of the subject's characters, so an exact comparison finds it.
// A match that could not be read has no position at all (-2, as for a text not found).
int PositionOf(const ComObject& match, std::string_view subject, std::string_view text) {
  if (IsEmpty(match)) return -2;
  const int first = Truncated(ReadNumberProperty(match, "FirstIndex"));
  return FindTextOffset(subject, text, first);
}

}  // namespace

RegexObject::RegexObject() { coInitialize(nullptr); }

RegexObject::~RegexObject() {
  Clear(regExp);
  Clear(matches);
  subject.clear();
  coUninitialize();
}

bool RegexObject::Search(std::string_view pattern, std::string_view subjectText, bool caseSensitive,
                         bool multiline, bool global, bool quoteMarker) {
  const bool ignoreCase = !caseSensitive;
  Clear(regExp);
  Clear(matches);
  Create(regExp, "VBScript.RegExp");
  WriteProperty(regExp, "IgnoreCase", {Arg(ignoreCase)});
  WriteProperty(regExp, "Multiline", {Arg(multiline)});
  WriteProperty(regExp, "Singleline", {Arg(true)});  // the object has no such property: no effect
  WriteProperty(regExp, "Global", {Arg(global)});
  const std::string patternText = quoteMarker ? ReplaceQuoteMarker(pattern) : std::string(pattern);
  WriteProperty(regExp, "Pattern", {Arg(patternText)});
  subject.assign(subjectText);
  // Wine's engine aborts the whole process on an empty subject; nothing is searched in it.
  if (subjectText.empty()) return false;
  matches = CallObjectMethod(regExp, "Execute", {Arg(subjectText)});
  return !IsEmpty(matches);
}

std::string RegexObject::GetPattern() {
  if (IsEmpty(regExp)) return {};
  return ReadTextProperty(regExp, "Pattern");
}

std::string RegexObject::Replace(std::string_view replacement) {
  return CallTextMethod(regExp, "Replace", {Arg(subject), Arg(replacement)});
}

int RegexObject::GetMatchCount() { return Truncated(ReadNumberProperty(matches, "Count")); }

std::string RegexObject::GetMatchText(int index, int* position) {
  ComObject item = ReadObjectProperty(matches, "Item", {Arg(static_cast<double>(index - 1))});
  std::string text = ReadTextProperty(item, "Value");
  if (position) *position = PositionOf(item, subject, text);
  Clear(item);
  return text;
}

std::string RegexObject::GetSubMatchText(int matchIndex, int groupIndex, int* position) {
  ComObject match = ReadObjectProperty(matches, "Item", {Arg(static_cast<double>(matchIndex - 1))});
  ComObject groups = ReadObjectProperty(match, "SubMatches");
  Variant value = ReadProperty(groups, "Item", {Arg(static_cast<double>(groupIndex - 1))});
  std::string text = ToText(value);
  Clear(value);
  if (position) *position = PositionOf(match, subject, text);
  Clear(match);
  Clear(groups);
  return text;
}

int RegexObject::GetSubMatchCount() {
  ComObject match = ReadObjectProperty(matches, "Item", {Arg(std::int32_t{0})});
  ComObject groups = ReadObjectProperty(match, "SubMatches");
  const int count = Truncated(ReadNumberProperty(groups, "Count"));
  Clear(match);
  Clear(groups);
  return count;
}

}  // namespace harvester
