#include "automation/regex_object.h"

#include <windows.h>
#include <objbase.h>

#include <optional>

#include "automation/builtin_pattern_object.h"
#include "automation/calls.h"
#include "base/dll_functions.h"
#include "automation/pattern_text.h"

namespace harvester {

namespace {

DllFunction<HRESULT __stdcall(LPVOID)> coInitialize("Ole32.dll", "CoInitialize");
DllFunction<void __stdcall()> coUninitialize("Ole32.dll", "CoUninitialize");

// A count the collection gives as no integer of the program's range counts nothing.
int CountOf(double value) { return TruncatedToInt(value).value_or(0); }

// The byte offset of text in subject, scanned from the match's "FirstIndex" (a UTF-16 index, so
// at or before the byte offset in double-byte text). Letter case counts: the found text is the
// object's own copy of the subject's characters, so an exact comparison finds it.
// A match that could not be read, or whose index is no integer of the program's range, has no
// position at all (-2, as for a text not found).
int PositionOf(const ComObject& match, std::string_view subject, std::string_view text) {
  if (IsEmpty(match)) return -2;
  const std::optional<int> first = TruncatedToInt(ReadNumberProperty(match, "FirstIndex"));
  if (!first) return -2;
  return FindTextOffset(subject, text, *first);
}

// The collection's 0-based index of a 1-based one, reckoned as a double: INT_MIN has one below it too.
double LessOne(int index) { return static_cast<double>(index) - 1.0; }

// Once a process, for each engine, the first time an object settles on it: a line for the
// debugger. The text is ASCII, so the narrow call carries it whatever the code page: under Wine
// only that call reaches the debug channel "debugstr" (the wide one is reported under "seh").
void AnnounceEngine(RegexObject::Engine engine) {
  static LONG announced = 0;
  const LONG bit = engine == RegexObject::Engine::kPlatform ? 1 : 2;
  if (InterlockedOr(&announced, bit) & bit) return;
  OutputDebugStringA(engine == RegexObject::Engine::kPlatform
                         ? "harvester: pattern engine: the platform's VBScript.RegExp\n"
                         : "harvester: pattern engine: built-in (VBScript.RegExp cannot be created)\n");
}

}  // namespace

RegexObject::RegexObject() { coInitialize(nullptr); }

RegexObject::RegexObject(Engine engine) : engine_(engine) { coInitialize(nullptr); }

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
  CreatePatternObject();
  WriteProperty(regExp, "IgnoreCase", {Arg(ignoreCase)});
  WriteProperty(regExp, "Multiline", {Arg(multiline)});
  WriteProperty(regExp, "Singleline", {Arg(true)});  // the object has no such property: no effect
  WriteProperty(regExp, "Global", {Arg(global)});
  const std::string patternText = quoteMarker ? ReplaceQuoteMarker(pattern) : std::string(pattern);
  WriteProperty(regExp, "Pattern", {Arg(patternText)});
  // The text goes to the object straight from the caller's, and is kept only once the object
  // has its own: a page is never held by the string handed to the object and the copy at once.
  // It may be this object's own subject.
  matches = CallObjectMethod(regExp, "Execute", {Arg(subjectText)});
  subject.assign(subjectText);
  return !IsEmpty(matches);
}

// The one place that knows two engines: the first search tries the platform's object, and
// where it cannot be created every search of this object's life runs on the built-in one.
// Once the platform's object has been created, a later failure stays what it was: a soft one.
void RegexObject::CreatePatternObject() {
  if (engine_ != Engine::kBuiltIn) {
    const bool created = Create(regExp, "VBScript.RegExp");
    if (engine_ == Engine::kPlatform) return;
    engine_ = created ? Engine::kPlatform : Engine::kBuiltIn;
    AnnounceEngine(engine_);
    if (created) return;
  }
  regExp = MakeBuiltInPatternObject();
}

std::string RegexObject::GetPattern() {
  if (IsEmpty(regExp)) return {};
  return ReadTextProperty(regExp, "Pattern");
}

std::string RegexObject::Replace(std::string_view replacement) {
  return CallTextMethod(regExp, "Replace", {Arg(subject), Arg(replacement)});
}

int RegexObject::GetMatchCount() { return CountOf(ReadNumberProperty(matches, "Count")); }

std::string RegexObject::GetMatchText(int index, int* position) {
  ComObject item = ReadObjectProperty(matches, "Item", {Arg(LessOne(index))});
  std::string text = ReadTextProperty(item, "Value");
  if (position) *position = PositionOf(item, subject, text);
  Clear(item);
  return text;
}

std::string RegexObject::GetSubMatchText(int matchIndex, int groupIndex, int* position) {
  ComObject match = ReadObjectProperty(matches, "Item", {Arg(LessOne(matchIndex))});
  ComObject groups = ReadObjectProperty(match, "SubMatches");
  Variant value = ReadProperty(groups, "Item", {Arg(LessOne(groupIndex))});
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
  const int count = CountOf(ReadNumberProperty(groups, "Count"));
  Clear(match);
  Clear(groups);
  return count;
}

}  // namespace harvester
