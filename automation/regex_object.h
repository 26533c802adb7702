#pragma once
// The program's regular-expression class over the platform's "VBScript.RegExp" object, or where
// that object cannot be created, over the built-in pattern object with the same members.
// Match and group indices are 1-based; every failure is soft.
#include <string>
#include <string_view>

#include "automation/com_object.h"

namespace harvester {

class RegexObject {
 public:
  // What makes the pattern objects: the platform's, or the built-in one.
  enum class Engine { kUndecided, kPlatform, kBuiltIn };

  RegexObject();  // CoInitialize(nullptr), result ignored
  // With the engine given rather than tried: the tests compare the engines on one system.
  explicit RegexObject(Engine engine);
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

  // The engine of this object's life: undecided until its first search tries the platform's
  // object, then the platform's where it could be created, the built-in one where not.
  Engine UsedEngine() const { return engine_; }

  ComObject regExp;
  ComObject matches;
  std::string subject;

 private:
  void CreatePatternObject();

  Engine engine_ = Engine::kUndecided;
};

}  // namespace harvester
