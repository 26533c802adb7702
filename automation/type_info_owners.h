#pragma once
// Owners of what a type information lends out for one call.
#include <utility>

#include <oaidl.h>

namespace harvester {

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

}  // namespace harvester
