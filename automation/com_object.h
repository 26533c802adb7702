#pragma once
// Owning handles for automation objects and VARIANTs.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <oaidl.h>

#include "base/bytes.h"

namespace harvester {

// Holds at most one counted IUnknown reference. Copying adds a reference; clearing,
// overwriting or destroying the handle releases it.
class ComObject {
 public:
  ComObject() = default;
  // Takes over a reference the caller already holds.
  static ComObject Attach(IUnknown* unknown);
  // Adds a reference of its own.
  static ComObject FromPointer(IUnknown* unknown);

  ComObject(const ComObject& other);
  ComObject(ComObject&& other) noexcept;
  ComObject& operator=(const ComObject& other);
  ComObject& operator=(ComObject&& other) noexcept;
  ~ComObject();

  IUnknown* Get() const { return unknown_; }

 private:
  IUnknown* unknown_ = nullptr;
  friend void Clear(ComObject& object);
};

// Makes a fresh object from a ProgID, or from a CLSID text when progId begins with "{".
// Only on success is the handle's old object released and replaced.
bool Create(ComObject& object, std::string_view progId);
void Clear(ComObject& object);
bool IsEmpty(const ComObject& object);

// An owned VARIANT (16 bytes). Copies follow references (VariantCopyInd).
class Variant {
 public:
  Variant();
  explicit Variant(const VARIANT& source);  // copies with references followed
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  VARIANT* Get() { return &value_; }
  const VARIANT* Get() const { return &value_; }
  VARTYPE Type() const { return value_.vt; }

 private:
  VARIANT value_;
  friend void Clear(Variant& variant);
};

// VariantClear, then the 16 bytes are zeroed.
void Clear(Variant& variant);
// A string is taken as it is, anything else coerced to a string; arrays and failures give "".
std::string ToText(const Variant& variant);
// The raw elements of a one-byte-element array (held directly or by reference, any bounds,
// any number of dimensions); other values are first coerced to a byte array.
Bytes ToBytes(const Variant& variant);

// The bytes ToBytes would give, read where they lie: the array stays locked for its data
// (SafeArrayAccessData) for as long as this lives, and nothing is copied. Made from a Variant
// that it takes over, or from one that must outlive it. A value that is not an array is
// coerced to a byte array held here.
class VariantBytes {
 public:
  VariantBytes() = default;  // no bytes
  explicit VariantBytes(Variant&& variant);
  explicit VariantBytes(const Variant& variant);
  VariantBytes(VariantBytes&& other) noexcept;
  VariantBytes& operator=(VariantBytes&& other) noexcept;
  VariantBytes(const VariantBytes&) = delete;
  VariantBytes& operator=(const VariantBytes&) = delete;
  ~VariantBytes();

  std::span<const std::uint8_t> Get() const { return {data_, size_}; }
  bool Empty() const { return size_ == 0; }
  // Unlocks the array and gives back what was taken over; no bytes from then on.
  void Reset();

 private:
  void Access(const VARIANT& source);
  void Lock(SAFEARRAY* array);

  Variant held_;                 // what was taken over, or the byte array a value was coerced to
  SAFEARRAY* array_ = nullptr;   // locked while set
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace harvester
