#pragma once
// Result conversion of the late-bound calls: a call's result VARIANT (or an [out] argument's)
// into the caller's typed value.
#include <cstdint>
#include <string>
#include <variant>

#include <oaidl.h>

#include "automation/calls.h"

namespace harvester::calls_internal {

// Where a call's result goes; monostate for calls without a result.
using ResultSlot = std::variant<std::monostate, std::string*, double*, bool*, ComObject*, Variant*>;

// Each converts source to the kind (coercing it as the result table says) and stores it in out;
// false, with out untouched, when it cannot be converted.
bool StoreAs(const VARIANT& source, std::string& out);
bool StoreAs(const VARIANT& source, bool& out);
bool StoreAs(const VARIANT& source, std::uint8_t& out);
bool StoreAs(const VARIANT& source, std::int16_t& out);
bool StoreAs(const VARIANT& source, std::int32_t& out);
bool StoreAs(const VARIANT& source, std::int64_t& out);
bool StoreAs(const VARIANT& source, float& out);
bool StoreAs(const VARIANT& source, double& out);
bool StoreAs(const VARIANT& source, DateTime& out);
bool StoreAs(const VARIANT& source, ComObject& out);
bool StoreAs(const VARIANT& source, Variant& out);
bool StoreAs(const VARIANT& source, Bytes& out);  // always false: bytes are not a result kind

// True when the slot takes no result or source converts to its kind. A call's own result is
// given: a Variant result that holds its value itself is taken over, source left empty, rather
// than copied (the body of a page at times); one that refers to its value is copied with the
// reference followed.
bool StoreResult(VARIANT& source, const ResultSlot& slot);

}  // namespace harvester::calls_internal
