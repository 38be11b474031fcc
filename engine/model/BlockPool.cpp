// The block allocator's out-of-line parts: the slab source's heap trimming, the pages backed in
// one call, and the blocks of a size known at run time, each from the pool of its size class.
#include "engine/model/BlockPool.h"

#include <algorithm>
#include <array>
#include <utility>

#if IE_SLAB_MAPPINGS && defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ie {

#if IE_SLAB_MAPPINGS
void TSlabSource::TrimHeap() noexcept {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
    // Only when megabytes came free since the last time: trimming walks the free lists, and
    // the pieces too small for a page stay free whatever is done.
    static thread_local size_t kept = 0;
    const size_t free = mallinfo2().fordblks;
    if (free < kept + 2 * ChunkBytes) {
        kept = std::min(kept, free);
        return;
    }
    malloc_trim(0);
    kept = mallinfo2().fordblks;
#endif
}
#endif

void PopulatePages([[maybe_unused]] void* begin, [[maybe_unused]] void* end) noexcept {
#ifdef MADV_POPULATE_WRITE
    constexpr uintptr_t page = 4096;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
    const uintptr_t to = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#endif
}

namespace {

// Size classes in steps of 8 bytes: a 40-byte value takes 40 bytes, not a 48-byte chunk of the
// general allocator. Class c holds blocks of (c + 1) * 8 bytes.
constexpr size_t Step = 8;
constexpr size_t Classes = MaxPooledBlock / Step;

// The pool of each class, by a table of its two calls (one indirect call instead of the
// general allocator's search).
struct TClassPool {
    void* (*Get)();
    void (*Put)(void*) noexcept;
};
template <size_t... C> constexpr auto MakeClassPools(std::index_sequence<C...>) {
    return std::array<TClassPool, sizeof...(C)>{
        TClassPool{&TBlockPool<(C + 1) * Step>::Get, &TBlockPool<(C + 1) * Step>::Put}...};
}
constexpr auto ClassPools = MakeClassPools(std::make_index_sequence<Classes>());

// The size class of a block, Classes when it is too large for the pools (or empty).
size_t BlockClass(size_t size) noexcept {
    return size - 1 < MaxPooledBlock ? (size - 1) / Step : Classes;
}

} // namespace

void* AllocateBlock(size_t size) {
    if constexpr (BlockPoolEnabled) {
        const size_t c = BlockClass(size);
        if (c < Classes) return ClassPools[c].Get();
    }
    return ::operator new(size);
}

void FreeBlock(void* p, size_t size) noexcept {
    if constexpr (BlockPoolEnabled) {
        const size_t c = BlockClass(size);
        if (c < Classes) return ClassPools[c].Put(p);
    }
    ::operator delete(p);
}

} // namespace ie
