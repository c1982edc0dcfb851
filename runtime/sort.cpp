// Record sorting: a stable natural merge sort and an adaptive quicksort over
// arrays of fixed-size records.
//
// The comparison callback may be script code, so two rules hold everywhere:
// - every index is bounds-checked on its own, never by trusting the callback to
//   answer consistently (a sentinel that "must" stop a scan is not relied on);
// - whenever the callback runs, every record is either in the array or, during
//   a merge, in the merge buffer with a free slot waiting for it in the array.
//   When the callback throws, the records still in the buffer are put into the
//   free slots, so the array always ends as a permutation of its input.
// The quicksort only ever swaps, so it needs no such repair.
#include "runtime/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "runtime/errors.h"

namespace zan::sort {

namespace {

// The stable merges under way, innermost first (a comparator may sort again).
const Scratch* scratch_chain = nullptr;

// An array of records: base, record size and how to move them.
struct Records {
    std::byte* base;
    std::size_t size;
    bool bytewise;
    const Context& compare;

    std::byte* at(std::size_t i) const { return base + i * size; }
    int cmp(std::size_t i, std::size_t j) const { return compare(at(i), at(j)); }
    void exchange(std::size_t i, std::size_t j) const { swap(at(i), at(j), size, bytewise); }

    void reverse(std::size_t lo, std::size_t n) const {
        for (std::size_t i = lo, j = lo + n - 1; i < j; ++i, --j) exchange(i, j);
    }

    void insertion(std::size_t lo, std::size_t n) const {
        for (std::size_t i = lo + 1; i < lo + n; ++i)
            for (std::size_t j = i; j > lo && cmp(j - 1, j) > 0; --j) exchange(j - 1, j);
    }

    void sift_down(std::size_t lo, std::size_t root, std::size_t n) const {
        for (std::size_t child; (child = 2 * root + 1) < n; root = child) {
            if (child + 1 < n && cmp(lo + child, lo + child + 1) < 0) ++child;
            if (cmp(lo + root, lo + child) >= 0) return;
            exchange(lo + root, lo + child);
        }
    }

    // The fallback that keeps a run of bad pivots from going quadratic.
    void heapsort(std::size_t lo, std::size_t n) const {
        for (std::size_t s = n / 2; s-- > 0;) sift_down(lo, s, n);
        for (std::size_t end = n - 1; end > 0; --end) {
            exchange(lo, lo + end);
            sift_down(lo, 0, end);
        }
    }

    // Puts the three samples in order and answers the middle one. Ordering
    // them, rather than only picking the median, keeps an outlier in the first
    // sample from staying there to spoil the next pivot.
    std::size_t median_of_three(std::size_t a, std::size_t b, std::size_t c) const {
        if (cmp(b, a) < 0) exchange(a, b);
        if (cmp(c, b) < 0) {
            exchange(b, c);
            if (cmp(b, a) < 0) exchange(a, b);
        }
        return b;
    }

    // Partitions [lo, lo + n) around the record at lo + p, which moves with the
    // swaps; answers its final offset k: records before it sort no later,
    // records after it no earlier. Records already in place stay there, so a
    // sorted stretch is still sorted in both parts.
    std::size_t partition(std::size_t lo, std::size_t n, std::size_t p) const {
        std::size_t i = 0;
        std::size_t j = n - 1;
        for (;;) {
            while (i < n && cmp(lo + i, lo + p) < 0) ++i;
            while (j > 0 && cmp(lo + j, lo + p) > 0) --j;
            if (i >= j) break;
            exchange(lo + i, lo + j);
            if (p == i)
                p = j;
            else if (p == j)
                p = i;
            ++i;
            --j;
        }
        // Now [0, i) sorts no later than the pivot and [i, n) no earlier.
        std::size_t k = p < i ? i - 1 : i;
        exchange(lo + p, lo + k);
        return k;
    }

    // Median-of-three quicksort down to 7 records, then insertion sort. For
    // ranges of 512 records or more the pivot comes from the first 63 records,
    // unless whole_window asks for the whole range (presorted data).
    void quick(std::size_t lo, std::size_t n, bool whole_window, int budget) const {
        while (n > 7) {
            if (budget-- == 0) {
                heapsort(lo, n);
                return;
            }
            std::size_t window = (!whole_window && n >= 512) ? 63 : n;
            std::size_t pivot = median_of_three(lo, lo + window / 2, lo + window - 1) - lo;
            std::size_t j = partition(lo, n, pivot);
            std::size_t left = j;
            std::size_t right = n - j - 1;
            if (left < right) {
                quick(lo, left, whole_window, budget);
                lo += j + 1;
                n = right;
            } else {
                quick(lo + j + 1, right, whole_window, budget);
                n = left;
            }
        }
        insertion(lo, n);
    }
};

bool bytewise_for(std::size_t size) { return size % 4 != 0; }

// Keeps the chain of merge buffers in step with the stack, also when unwinding.
class ScratchLink {
public:
    explicit ScratchLink(Scratch& s) : scratch_(s) {
        s.outer = scratch_chain;
        scratch_chain = &s;
    }
    ~ScratchLink() { scratch_chain = scratch_.outer; }
    ScratchLink(const ScratchLink&) = delete;
    ScratchLink& operator=(const ScratchLink&) = delete;

private:
    Scratch& scratch_;
};

std::size_t checked_bytes(std::size_t count, std::size_t size) {
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size)
        errors::fire(errors::id::no_memory);
    return count * size;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

template <typename T>
std::unique_ptr<T, FreeDeleter> allocate(std::size_t bytes) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) errors::fire(errors::id::no_memory);
    return std::unique_ptr<T, FreeDeleter>(static_cast<T*>(p));
}

}  // namespace

const Scratch* scratch() { return scratch_chain; }

void swap(void* a, void* b, std::size_t size, bool bytewise) {
    auto* p = static_cast<unsigned char*>(a);
    auto* q = static_cast<unsigned char*>(b);
    if (bytewise) {
        for (std::size_t i = 0; i < size; ++i) {
            unsigned char t = p[i];
            p[i] = q[i];
            q[i] = t;
        }
        return;
    }
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        uint32_t x;
        uint32_t y;
        std::memcpy(&x, p + i, 4);
        std::memcpy(&y, q + i, 4);
        std::memcpy(p + i, &y, 4);
        std::memcpy(q + i, &x, 4);
    }
    swap(p + i, q + i, size - i, true);  // a size that is not a multiple of 4
}

std::byte* find_run(std::byte* start, std::byte* end, std::size_t size, std::uintptr_t mode,
                    std::uintptr_t flags, Compare compare) {
    Context context{size, mode, flags, compare};
    Records r{start, size, bytewise_for(size), context};
    std::size_t n = size ? std::size_t(end - start) / size : 0;
    if (n < 2) return end;
    std::size_t i = 1;
    if (r.cmp(1, 0) < 0) {
        while (i + 1 < n && r.cmp(i + 1, i) < 0) ++i;
        r.reverse(0, i + 1);
    } else {
        while (i + 1 < n && r.cmp(i + 1, i) >= 0) ++i;
    }
    return r.at(i + 1);
}

void merge_runs(std::byte* first, std::byte* middle, std::byte* end, std::byte* buffer,
                const Context& context) {
    const std::size_t size = context.size;
    if (first == middle || middle == end) return;

    const std::size_t left = std::size_t(middle - first);
    const std::size_t right = std::size_t(end - middle);
    if (left <= right) {
        // Forward: the first run waits in the buffer; the free slots are
        // [out, next), exactly as many as records left in the buffer.
        std::memcpy(buffer, first, left);
        const std::byte* held = buffer;
        const std::byte* held_end = buffer + left;
        std::byte* next = middle;
        std::byte* out = first;
        try {
            while (held < held_end && next < end) {
                if (context(next, held) < 0) {
                    std::memmove(out, next, size);
                    next += size;
                } else {
                    std::memcpy(out, held, size);
                    held += size;
                }
                out += size;
            }
        } catch (...) {
            std::memcpy(out, held, std::size_t(held_end - held));
            throw;
        }
        std::memcpy(out, held, std::size_t(held_end - held));
    } else {
        // Backward: the second run waits in the buffer; the free slots are
        // [prev, out), the buffer's remaining records go to them.
        std::memcpy(buffer, middle, right);
        std::byte* held_end = buffer + right;  // records [buffer, held_end) still held
        std::byte* prev = middle;               // first-run records [first, prev) unplaced
        std::byte* out = end;
        try {
            while (held_end > buffer && prev > first) {
                if (context(held_end - size, prev - size) < 0) {
                    prev -= size;
                    out -= size;
                    std::memmove(out, prev, size);
                } else {
                    held_end -= size;
                    out -= size;
                    std::memcpy(out, held_end, size);
                }
            }
        } catch (...) {
            std::memcpy(prev, buffer, std::size_t(held_end - buffer));
            throw;
        }
        std::memcpy(prev, buffer, std::size_t(held_end - buffer));
    }
}

void stable_merge(void* base, std::size_t count, std::size_t size, std::uintptr_t mode,
                  std::uintptr_t flags, Compare compare) {
    if (count < 2 || size == 0) return;
    auto buffer = allocate<std::byte>(checked_bytes(count / 2, size));
    // Run ends as byte offsets; every run but the last holds 2 records or more.
    auto runs = allocate<std::size_t>(checked_bytes(count / 2 + 1, sizeof(std::size_t)));
    auto* records = static_cast<std::byte*>(base);
    std::byte* end = records + count * size;
    const Context context{size, mode, flags, compare};
    Scratch scratch{buffer.get(), 0, size, compare, mode, flags, nullptr};
    ScratchLink link(scratch);

    std::size_t run_count = 0;
    for (std::byte* start = records; start < end;) {
        start = find_run(start, end, size, mode, flags, compare);
        runs.get()[run_count++] = std::size_t(start - records);
    }
    std::size_t* ends = runs.get();
    while (run_count > 1) {
        std::size_t kept = 0;
        std::size_t start = 0;
        for (std::size_t i = 0; i < run_count; i += 2) {
            if (i + 1 < run_count) {
                std::byte* middle = records + ends[i];
                if (context(middle, middle - size) < 0) {  // else already in order
                    std::size_t held = std::min(ends[i] - start, ends[i + 1] - ends[i]);
                    if (held > scratch.bytes) scratch.bytes = held;
                    merge_runs(records + start, middle, records + ends[i + 1], buffer.get(),
                               context);
                }
                ends[kept++] = ends[i + 1];
            } else {
                ends[kept++] = ends[i];
            }
            start = ends[kept - 1];
        }
        run_count = kept;
    }
}

void adaptive_quick(void* base, std::size_t count, std::size_t size, std::uintptr_t mode,
                    std::uintptr_t flags, Compare compare) {
    if (count < 2 || size == 0) return;
    const Context context{size, mode, flags, compare};
    const Records r{static_cast<std::byte*>(base), size, bytewise_for(size), context};
    if (count <= 7) {
        r.insertion(0, count);
        return;
    }

    // The initial run: its direction is that of the first unequal pair.
    int direction = 0;
    std::size_t run = 1;
    for (; run < count; ++run) {
        int c = r.cmp(run - 1, run);
        if (c == 0) continue;
        int d = c < 0 ? 1 : -1;
        if (direction == 0)
            direction = d;
        else if (d != direction)
            break;
    }
    if (run == count) {
        if (direction < 0) r.reverse(0, count);
        return;
    }

    // Estimate the order of the rest from every 97th adjacent pair.
    long long estimate = direction * static_cast<long long>(run);
    for (std::size_t k = run; k + 1 < count; k += 97) {
        int c = r.cmp(k, k + 1);
        estimate += c < 0 ? 1 : c > 0 ? -1 : 0;
    }
    const bool presorted = static_cast<unsigned long long>(estimate < 0 ? -estimate : estimate) >
                           count / 512;
    // Nearly sorted data: turn a mostly descending array around, then let the
    // pivots come from the whole range, where they are close to the median.
    if (presorted && estimate < 0) r.reverse(0, count);

    int budget = 0;
    for (std::size_t n = count; n > 1; n >>= 1) budget += 2;
    r.quick(0, count, presorted, budget);
}

}  // namespace zan::sort
