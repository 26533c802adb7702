#pragma once
// Late-bound calls by name on automation objects. Every call is fail-soft: it returns the
// empty value of its result kind on failure and leaves a code in LastCallError().
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "automation/com_object.h"

namespace harvester {

// An automation date (days since 30 December 1899, as a double).
struct DateTime {
  double value = 0;
};

// One argument of a call: a value, a reference to one of the caller's variables
// (which receives the object's [out] value), or omitted.
// A text given as a view, a pointer or a string the caller keeps is not copied: the argument
// refers to the caller's text, which must outlive the call. It does whenever the arguments are
// built in the call's own expression (`{Arg(page)}` lives until the call has returned), and
// copying such an argument copies only the reference. A string handed over (an rvalue) is
// moved into the argument and owned by it.
class Arg {
 public:
  using Value = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t,
                             std::int64_t, float, double, DateTime, std::string, std::string_view,
                             ComObject, Variant, Bytes>;
  using Ref = std::variant<bool*, std::uint8_t*, std::int16_t*, std::int32_t*, std::int64_t*,
                           float*, double*, DateTime*, std::string*, ComObject*, Variant*, Bytes*>;

  Arg() = default;  // omitted
  static Arg Omitted() { return Arg(); }
  Arg(bool v) : value_(v) {}
  Arg(std::uint8_t v) : value_(v) {}
  Arg(std::int16_t v) : value_(v) {}
  Arg(std::int32_t v) : value_(v) {}
  Arg(std::int64_t v) : value_(v) {}
  Arg(float v) : value_(v) {}
  Arg(double v) : value_(v) {}
  Arg(DateTime v) : value_(v) {}
  Arg(const char* v) : value_(std::string_view(v ? v : "")) {}
  Arg(std::string_view v) : value_(v) {}
  Arg(const std::string& v) : value_(std::string_view(v)) {}
  Arg(std::string&& v) : value_(std::move(v)) {}
  Arg(ComObject v) : value_(std::move(v)) {}
  Arg(Variant v) : value_(std::move(v)) {}
  Arg(Bytes v) : value_(std::move(v)) {}
  template <typename T>
  static Arg ByRef(T& variable) {
    Arg arg;
    arg.ref_ = &variable;
    arg.byRef_ = true;
    return arg;
  }

  bool IsOmitted() const { return !byRef_ && std::holds_alternative<std::monostate>(value_); }
  bool IsByRef() const { return byRef_; }
  const Value& value() const { return value_; }
  const Ref& ref() const { return ref_; }

 private:
  Value value_;
  Ref ref_{static_cast<bool*>(nullptr)};
  bool byRef_ = false;
};

using Args = std::vector<Arg>;

// Codes left by every property or method call.
enum CallError : int {
  kCallOk = 0,
  kEmptyHandle = -1,
  kNoDispatch = -2,
  kNameNotBound = -3,
  kNoTypeInfo = -4,
  kTooManyArgs = -5,
  kBadArgKind = -7,
  kResultNotConvertible = -8,
  kBadParamCount = -9,
  kBadVarType = -10,
  kException = -11,
  kMemberNotFound = -12,
  kNoNamedArgs = -13,
  kOverflow = -14,
  kParamNotFound = -15,
  kTypeMismatch = -16,
  kParamNotOptional = -17,
  kInvokeFailed = -18,
};

// The code of this thread's last property or method call.
int LastCallError();

std::string ReadTextProperty(const ComObject& object, std::string_view name, const Args& args = {});
double ReadNumberProperty(const ComObject& object, std::string_view name, const Args& args = {});
ComObject ReadObjectProperty(const ComObject& object, std::string_view name, const Args& args = {});
Variant ReadProperty(const ComObject& object, std::string_view name, const Args& args = {});
// The new value is the last argument; true when the call left code 0.
bool WriteProperty(const ComObject& object, std::string_view name, const Args& args);
void CallMethod(const ComObject& object, std::string_view name, const Args& args = {});
std::string CallTextMethod(const ComObject& object, std::string_view name, const Args& args = {});
bool CallBoolMethod(const ComObject& object, std::string_view name, const Args& args = {});
ComObject CallObjectMethod(const ComObject& object, std::string_view name, const Args& args = {});

}  // namespace harvester
