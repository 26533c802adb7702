#pragma once
// Move-only owners of the raw COM resources the automation layer borrows for one call.
#include <utility>

#include <oaidl.h>

namespace harvester {

// One counted interface reference; Put() releases the old one before handing out the slot.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  T** Put() {
    Reset();
    return &pointer_;
  }
  void Reset() {
    if (pointer_) std::exchange(pointer_, nullptr)->Release();
  }

 private:
  T* pointer_ = nullptr;
};

// A type description borrowed from an ITypeInfo (FUNCDESC, VARDESC or TYPEATTR), handed back
// to the same type information when the owner goes.
template <typename Desc, void (__stdcall ITypeInfo::*ReleaseDesc)(Desc*)>
class TypeInfoDesc {
 public:
  TypeInfoDesc() = default;
  TypeInfoDesc(ITypeInfo* owner, Desc* desc) : owner_(owner), desc_(desc) {
    if (owner_) owner_->AddRef();
  }
  ~TypeInfoDesc() { Reset(); }
  TypeInfoDesc(const TypeInfoDesc&) = delete;
  TypeInfoDesc& operator=(const TypeInfoDesc&) = delete;
  TypeInfoDesc(TypeInfoDesc&& other) noexcept
      : owner_(std::exchange(other.owner_, nullptr)), desc_(std::exchange(other.desc_, nullptr)) {}
  TypeInfoDesc& operator=(TypeInfoDesc&& other) noexcept {
    if (this != &other) {
      Reset();
      owner_ = std::exchange(other.owner_, nullptr);
      desc_ = std::exchange(other.desc_, nullptr);
    }
    return *this;
  }

  Desc* Get() const { return desc_; }
  Desc* operator->() const { return desc_; }
  Desc& operator*() const { return *desc_; }
  explicit operator bool() const { return desc_ != nullptr; }
  void Reset() {
    if (owner_ && desc_) (owner_->*ReleaseDesc)(desc_);
    if (owner_) owner_->Release();
    owner_ = nullptr;
    desc_ = nullptr;
  }

 private:
  ITypeInfo* owner_ = nullptr;
  Desc* desc_ = nullptr;
};

using FuncDescOwner = TypeInfoDesc<FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using VarDescOwner = TypeInfoDesc<VARDESC, &ITypeInfo::ReleaseVarDesc>;
using TypeAttrOwner = TypeInfoDesc<TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;

// An owned BSTR.
class BstrOwner {
 public:
  BstrOwner() = default;
  explicit BstrOwner(BSTR value) : value_(value) {}
  ~BstrOwner() { SysFreeString(value_); }
  BstrOwner(const BstrOwner&) = delete;
  BstrOwner& operator=(const BstrOwner&) = delete;
  BSTR Get() const { return value_; }
  BSTR Release() { return std::exchange(value_, nullptr); }

 private:
  BSTR value_ = nullptr;
};

// The platform headers declare the source of a VARIANT copy or coercion writable; it is not written.
inline VARIANT* Source(const VARIANT* variant) { return const_cast<VARIANT*>(variant); }

}  // namespace harvester
