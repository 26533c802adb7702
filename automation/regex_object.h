#pragma once
// The program's regular-expression class over the platform's "VBScript.RegExp" object.
// Match and group indices are 1-based; every failure is soft.
#include <string>
#include <string_view>

#include "automation/com_object.h"

namespace harvester {

class RegexObject {
 public:
  RegexObject();  // CoInitialize(nullptr), result ignored
  virtual ~RegexObject();  // clears both objects, empties subject, CoUninitialize
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  virtual bool Search(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
                      bool multiline = true, bool global = true, bool quoteMarker = false);
  virtual std::string GetPattern();
  virtual std::string Replace(std::string_view replacement);
  virtual int GetMatchCount();
  virtual std::string GetMatchText(int index, int* position = nullptr);
  virtual std::string GetSubMatchText(int matchIndex, int groupIndex, int* position = nullptr);
  virtual int GetSubMatchCount();

  ComObject regExp;
  ComObject matches;
  std::string subject;
};

}  // namespace harvester
