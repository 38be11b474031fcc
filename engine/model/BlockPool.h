// The engine's one block allocator: per-thread pools of small blocks of one size, cut from
// slabs, for the objects made and dropped in great numbers (tokens and memory entries, activation
// links, values, lists, facts and their slot arrays). TBlockPool<Size> serves a size known at
// compile time; AllocateBlock and FreeBlock serve a size known at run time by its size class (a
// multiple of 8 bytes up to MaxPooledBlock), through the pool of that size.
//
// One sanitizer switch (BlockPoolEnabled: off under AddressSanitizer, which then sees every
// block's lifetime) and one rule at a thread's end (see TBlockPool) hold for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/Sanitizers.h"

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#define IE_SLAB_MAPPINGS 1
#else
#define IE_SLAB_MAPPINGS 0
#endif

namespace ie {

// Backs the whole pages of a new slab in one call: a slab's blocks are cut one after another
// from its first use on, and a fault per page costs more than the call (a tenth of the run time
// of a program that builds tens of megabytes of matches went to the faults). A kernel without
// the advice refuses it, and the pages fault in as before.
void PopulatePages(void* begin, void* end) noexcept;

// Recycles the memory of small objects of one size made and dropped in great numbers: a join
// makes and drops tokens by the thousand per fact change, in bursts the general allocator's
// caches do not hold. The blocks are cut from slabs of 64 KiB (aligned to their size, so a block
// finds its slab's header), so a block costs its size and no allocator header. Each thread keeps
// its own slabs and free list, so nothing is shared between threads; a block freed on another
// thread than the one that made it simply joins that thread's list. When a thread ends, its slabs
// are freed if every block it made came back to its own list and no other thread's block is in
// that list (the usual case: the engine is gone); otherwise they stay, since a live block or
// another thread's list may still point into them (the global constant values, which die after
// the thread's own objects at exit, keep the main thread's). Under AddressSanitizer the blocks
// go straight to the general allocator, so that a use after free is still caught.
#if defined(IE_ADDRESS_SANITIZER)
inline constexpr bool BlockPoolEnabled = false;
#else
inline constexpr bool BlockPoolEnabled = true;
#endif

// Where the block pools of a thread get their 64 KiB slabs: cut from 2 MiB mappings of their
// own. A slab aligned to its size asked of the general allocator cost it up to another slab's
// worth of padding, most of it never reused (a tenth of the peak memory of a program of many
// tokens); the pages of a mapping that no slab has touched take no memory.
class TSlabSource {
public:
    static constexpr size_t SlabBytes = size_t{64} << 10;

    // `populate`: back the slab's pages at once (see PopulatePages).
    static void* Get([[maybe_unused]] bool populate) {
#if IE_SLAB_MAPPINGS
        TState& st = FState;
        if (st.Next == st.End) {
            Map(st);
            FOwner.Touch();
        }
        void* slab = st.Next;
        st.Next += SlabBytes;
        if (populate) PopulatePages(slab, st.Next);
        return slab;
#else
        return ::operator new (SlabBytes, std::align_val_t{SlabBytes});
#endif
    }
    // Gives back a slab Get gave (on any thread).
    static void Put(void* slab) noexcept {
#if IE_SLAB_MAPPINGS
        munmap(slab, SlabBytes);
#else
        ::operator delete (slab, std::align_val_t{SlabBytes});
#endif
    }

private:
#if IE_SLAB_MAPPINGS
    static constexpr size_t ChunkBytes = size_t{2} << 20;
    struct TState {
        char* Next;
        char* End;
    };
    // Gives the general allocator's free pages back before a new chunk is touched: the slabs
    // cannot use them, and what a program's loading freed (the text read, the constructs
    // parsed) would otherwise stay counted beside every token (a fifth of the peak memory of a
    // program that builds its matches after loading megabytes of facts).
    static void TrimHeap() noexcept;
    static void Map(TState& st) {
        TrimHeap();
        // Twice the size, trimmed to an aligned chunk (so that a block finds its slab's header).
        void* p = mmap(nullptr, 2 * ChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        const uintptr_t start = reinterpret_cast<uintptr_t>(p);
        const uintptr_t chunk = (start + ChunkBytes - 1) & ~uintptr_t{ChunkBytes - 1};
        if (chunk > start) munmap(p, chunk - start);
        const uintptr_t end = start + 2 * ChunkBytes;
        if (chunk + ChunkBytes < end)
            munmap(reinterpret_cast<void*>(chunk + ChunkBytes), end - chunk - ChunkBytes);
        // An aligned 2 MiB chunk is what the kernel backs with one huge page where transparent
        // huge pages are always on: the whole chunk would count as touched at the first token,
        // and compacting memory for it stalls. Slabs are filled one page at a time instead.
        madvise(reinterpret_cast<void*>(chunk), ChunkBytes, MADV_NOHUGEPAGE);
        st.Next = reinterpret_cast<char*>(chunk);
        st.End = st.Next + ChunkBytes;
    }
    // Trivially destructible, so it stays usable while the thread's other objects die.
    static inline thread_local TState FState{};
    // Unmaps the part of the thread's last mapping no slab was cut from when the thread ends
    // (a slab asked for later comes from a new mapping, which stays).
    struct TOwner {
        void Touch() noexcept {}
        ~TOwner() {
            TState& st = FState;
            if (st.Next != st.End) munmap(st.Next, static_cast<size_t>(st.End - st.Next));
            st.Next = st.End = nullptr;
        }
    };
    static inline thread_local TOwner FOwner;
#endif
};

template <size_t Size> class TBlockPool {
public:
    static constexpr size_t SlabBytes = TSlabSource::SlabBytes;

    static void* Get() {
        if constexpr (BlockPoolEnabled) {
            TList& list = FList;
            ++list.Live;
            if (TBlock* b = list.Head) {
                list.Head = b->Next;
                // The next block's link is read by the next Get: a block freed a while ago has
                // left the cache, and the read would stall the maker of the next token.
                if (list.Head) __builtin_prefetch(list.Head, 1);
                return b;
            }
            if (list.Next == list.End) NewSlab(list);
            void* p = list.Next;
            list.Next += Size;
            return p;
        } else {
            return ::operator new(Size);
        }
    }
    static void Put(void* p) noexcept {
        if constexpr (BlockPoolEnabled) {
            TList& list = FList;
            const auto* slab = reinterpret_cast<const TSlab*>(reinterpret_cast<uintptr_t>(p) &
                                                              ~uintptr_t{SlabBytes - 1});
            if (slab->Owner == &list)
                --list.Live;
            else
                list.Foreign = true;
            auto* b = static_cast<TBlock*>(p);
            b->Next = list.Head;
            list.Head = b;
        } else {
            ::operator delete(p);
        }
    }

private:
    static_assert(Size >= sizeof(void*) && Size % alignof(void*) == 0);
    struct TBlock {
        TBlock* Next;
    };
    struct TList;
    struct TSlab {
        TSlab* Next;
        const TList* Owner;
    };
    // A cache line: the blocks start where a line does, so that a block of a multiple of half a
    // line (a token, a token with its entry) spans no more lines than its size needs.
    static constexpr size_t HeaderBytes = 64;
    static_assert(sizeof(TSlab) <= HeaderBytes);
    // Trivially destructible, so it stays usable while the thread's other objects die.
    struct TList {
        TBlock* Head;
        char* Next; // the unused rest of the newest slab
        char* End;
        TSlab* Slabs;
        size_t Live;  // blocks cut from this thread's slabs and not back in its list
        bool Foreign; // the list holds a block of another thread's slab
    };
    // Out of line: inlined into the token makers that call the pool, the slow path crowds out
    // their fast one.
    [[gnu::noinline]] static void NewSlab(TList& list) {
        // A size's first slab fills page by page: most sizes of a small program never fill
        // one (a program's sizes together would take a megabyte at once); the sizes that
        // need more slabs are made in numbers, and theirs are backed at once.
        auto* slab = static_cast<TSlab*>(TSlabSource::Get(list.Slabs != nullptr));
        FOwner.Touch();
        slab->Next = list.Slabs;
        slab->Owner = &list;
        list.Slabs = slab;
        list.Next = reinterpret_cast<char*>(slab) + HeaderBytes;
        list.End = list.Next + (SlabBytes - HeaderBytes) / Size * Size;
    }
    // Frees the thread's slabs when nothing can point into them any more. Blocks asked for
    // later (by objects that die after the thread's own) come from new slabs, which stay.
    struct TOwner {
        void Touch() noexcept {}
        ~TOwner() {
            TList& list = FList;
            if (list.Live != 0 || list.Foreign) return;
            while (TSlab* s = list.Slabs) {
                list.Slabs = s->Next;
                TSlabSource::Put(s);
            }
            list.Head = nullptr;
            list.Next = list.End = nullptr;
        }
    };
    static inline thread_local TList FList{};
    static inline thread_local TOwner FOwner;
};

// Gives a class the pool's recycling for objects of exactly its own size (a derived class of
// another size goes to the general allocator).
template <class T> struct TPooled {
    static void* operator new(size_t size) {
        return size == sizeof(T) ? TBlockPool<sizeof(T)>::Get() : ::operator new(size);
    }
    static void operator delete(void* p, size_t size) noexcept {
        if (size == sizeof(T))
            TBlockPool<sizeof(T)>::Put(p);
        else
            ::operator delete(p);
    }
};

// Blocks of a size known at run time, from the pool of its size rounded up to a multiple of 8
// (larger ones from the general allocator). FreeBlock takes the size that AllocateBlock was
// given; a block may be freed on another thread.
inline constexpr size_t MaxPooledBlock = 264;
void* AllocateBlock(size_t size);
void FreeBlock(void* p, size_t size) noexcept;

// A standard allocator over AllocateBlock, for the short arrays of small objects (a fact's slots).
template <class T> struct TBlockAllocator {
    using value_type = T;
    TBlockAllocator() noexcept = default;
    template <class U> TBlockAllocator(const TBlockAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return static_cast<T*>(AllocateBlock(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { FreeBlock(p, n * sizeof(T)); }
    template <class U> bool operator==(const TBlockAllocator<U>&) const noexcept { return true; }
};

// Gives a class and its subclasses AllocateBlock's blocks: for objects a program makes by the
// thousand, without the general allocator's header and rounding.
struct TBlockAllocated {
    static void* operator new(size_t size) { return AllocateBlock(size); }
    static void operator delete(void* p, size_t size) noexcept { FreeBlock(p, size); }
};

} // namespace ie
