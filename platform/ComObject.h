#pragma once
// Base of the platform objects of this program: a thread-safe reference count and
// interface lookup over the listed interfaces. Objects start with no reference and
// delete themselves when the last one is released; create them with MakeCom.
#include <atomic>
#include <type_traits>

#include "platform/ComPtr.h"

template <class First, class... Rest>
class TComObject : public First, public Rest... {
  public:
    TComObject() = default;
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!Match<First, Rest...>(iid, object) && !QueryExtra(iid, object)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    ULONG RefCount() const { return refs_.load(); }

  protected:
    virtual ~TComObject() = default;
    // Further interfaces an object answers; set *object without adding a reference.
    virtual bool QueryExtra(const IID& /*iid*/, void** /*object*/) { return false; }

  private:
    template <class I, class... More>
    bool Match(const IID& iid, void** object) {
        if (iid == InterfaceIdOf<I>::value) {
            *object = static_cast<I*>(this);
            return true;
        }
        if constexpr (sizeof...(More) > 0) return Match<More...>(iid, object);
        return false;
    }

    std::atomic<ULONG> refs_{0};
};

template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}
