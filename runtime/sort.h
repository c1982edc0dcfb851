// Record sorting: in-place sorts of fixed-size records through a comparison
// callback.
//
// The callback may run script code: it may throw (a script error, a break...),
// and it may even answer inconsistently. The sorts never index outside the
// array whatever it answers, and when it throws the array holds a permutation
// of its records: none lost, none duplicated. The caller keeps the array's
// address valid (pins the buffer) while sorting.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zan::sort {

// Answers below 0 when a sorts before b, 0 when equal, above 0 when after.
// mode and flags are handed through untouched (comparison code and flags of
// the caller, or an address of its own).
using Compare = int (*)(const void* a, const void* b, std::uintptr_t mode, std::uintptr_t flags);

// What the run and merge steps need to know of a sort.
struct Context {
    std::size_t size;  // bytes per record
    std::uintptr_t mode;
    std::uintptr_t flags;
    Compare compare;

    int operator()(const std::byte* a, const std::byte* b) const {
        return compare(a, b, mode, flags);
    }
};

// A stable merge under way and the buffer it merges through. While a
// comparator runs, some records may live only in that buffer: a collector
// marker must treat [data, data + bytes) as records of size bytes (sorts of
// cells are recognised by their compare routine). Innermost merge first; a
// comparator may start another sort.
struct Scratch {
    std::byte* data;
    std::size_t bytes;  // bytes holding record copies so far
    std::size_t size;
    Compare compare;
    std::uintptr_t mode;
    std::uintptr_t flags;
    const Scratch* outer;
};
const Scratch* scratch();

// Stable natural merge sort; needs a buffer of count / 2 records, whose
// allocation failure raises the no-memory error.
void stable_merge(void* base, std::size_t count, std::size_t size, std::uintptr_t mode,
                  std::uintptr_t flags, Compare compare);

// Unstable in-place sort: quicksort with median-of-three pivots, insertion sort
// for 7 records or fewer, and a shortcut for presorted data.
void adaptive_quick(void* base, std::size_t count, std::size_t size, std::uintptr_t mode,
                    std::uintptr_t flags, Compare compare);

// End of the run starting at start: the longest prefix that is non-descending
// or strictly descending. A descending run is reversed in place first.
std::byte* find_run(std::byte* start, std::byte* end, std::size_t size, std::uintptr_t mode,
                    std::uintptr_t flags, Compare compare);

// Merges the sorted runs [first, middle) and [middle, end) through buffer,
// which holds at least the shorter run. Equal records of the first run stay
// first.
void merge_runs(std::byte* first, std::byte* middle, std::byte* end, std::byte* buffer,
                const Context& context);

// Exchanges two records of size bytes, a byte at a time when bytewise is set
// (sizes that are not a multiple of 4), else a 32-bit word at a time.
void swap(void* a, void* b, std::size_t size, bool bytewise);

}  // namespace zan::sort
