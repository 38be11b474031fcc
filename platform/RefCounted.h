// Intrusive reference counting: the one smart pointer of the system, for objects counted atomically
// (TRefCounted, every shared interface) or plainly (TPlainRefCounted, the network's tokens).
//
// Every reference-counted interface derives *virtually* from TRefCounted, so an object that
// implements several interfaces still has exactly one counter. TRefPtr<T> holds one count for
// as long as it points at the object; the object deletes itself when the last count goes.
// Back-references that would close a cycle are plain non-owning pointers, never TRefPtr.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

namespace ie {

class TRefCounted {
public:
    void AddRef() const noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept {
        if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }

protected:
    TRefCounted() noexcept = default;
    // A copy is a new object: it starts with no references of its own.
    TRefCounted(const TRefCounted&) noexcept {}
    TRefCounted& operator=(const TRefCounted&) noexcept { return *this; }
    virtual ~TRefCounted() = default;
    // The first count of an object no other thread can see yet, without a locked instruction
    // (which would wait for the stores that made the object); TRefPtr::Adopt takes it over.
    void SetFirstRef() const noexcept { FRefCount.store(1, std::memory_order_relaxed); }

private:
    mutable std::atomic<int32_t> FRefCount{0};
};

// The same count for objects of the engine's own making that never leave the engine's one thread
// while counted (tokens): a plain integer, since a locked instruction waits for every store before
// it, and a join makes and drops its tokens by the million right after writing them.
class TPlainRefCounted {
public:
    void AddRef() const noexcept { ++FRefCount; }
    void Release() const noexcept {
        if (--FRefCount == 0) delete this;
    }
    int32_t RefCount() const noexcept { return FRefCount; }

protected:
    TPlainRefCounted() noexcept = default;
    TPlainRefCounted(const TPlainRefCounted&) noexcept {}
    TPlainRefCounted& operator=(const TPlainRefCounted&) noexcept { return *this; }
    virtual ~TPlainRefCounted() = default;
    void SetFirstRef() const noexcept { FRefCount = 1; }

private:
    mutable int32_t FRefCount = 0;
};

// A U* converts to a T* (U is T or derives from it): the pointers that may share T's count.
template <class U, class T>
concept PointeeOf = std::is_convertible_v<U*, T*>;

// Owning pointer to any object with AddRef()/Release().
template <class T> class TRefPtr {
public:
    using element_type = T;

    constexpr TRefPtr() noexcept = default;
    constexpr TRefPtr(std::nullptr_t) noexcept {}
    TRefPtr(T* p) noexcept : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    TRefPtr(const TRefPtr& other) noexcept : TRefPtr(other.FPtr) {}
    TRefPtr(TRefPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    template <PointeeOf<T> U> TRefPtr(const TRefPtr<U>& other) noexcept : TRefPtr(other.get()) {}
    template <PointeeOf<T> U> TRefPtr(TRefPtr<U>&& other) noexcept : FPtr(other.detach()) {}
    ~TRefPtr() {
        if (FPtr) FPtr->Release();
    }

    TRefPtr& operator=(const TRefPtr& other) noexcept {
        reset(other.FPtr);
        return *this;
    }
    TRefPtr& operator=(TRefPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(FPtr, std::exchange(other.FPtr, nullptr));
            if (old) old->Release();
        }
        return *this;
    }
    TRefPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    void reset(T* p = nullptr) noexcept {
        if (p) p->AddRef();
        T* old = std::exchange(FPtr, p);
        if (old) old->Release();
    }
    // Gives up ownership without releasing; the caller now holds the count.
    [[nodiscard]] T* detach() noexcept { return std::exchange(FPtr, nullptr); }
    // Takes over a count the caller holds (what detach gave up).
    [[nodiscard]] static TRefPtr Adopt(T* p) noexcept {
        TRefPtr r;
        r.FPtr = p;
        return r;
    }

    T* get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

    friend bool operator==(const TRefPtr& a, const TRefPtr& b) noexcept { return a.FPtr == b.FPtr; }
    friend bool operator==(const TRefPtr& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }
    friend bool operator==(const TRefPtr& a, const T* b) noexcept { return a.FPtr == b; }

private:
    T* FPtr = nullptr;
};

template <class T, class... Args> TRefPtr<T> MakeRef(Args&&... args) {
    return TRefPtr<T>(new T(std::forward<Args>(args)...));
}

// Interface "cast" between reference-counted interfaces (the platform's `as` / Supports).
template <class To, class From> TRefPtr<To> RefCast(const TRefPtr<From>& p) noexcept {
    return TRefPtr<To>(dynamic_cast<To*>(p.get()));
}

} // namespace ie

template <class T> struct std::hash<ie::TRefPtr<T>> {
    size_t operator()(const ie::TRefPtr<T>& p) const noexcept { return std::hash<T*>()(p.get()); }
};
