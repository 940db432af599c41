#include "runtime/sort.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "runtime/fire.h"

namespace zuv::sort {

namespace {

// How records of one size are exchanged and copied; chosen once per sort.
// The sizes that strings (1, 2, 4) and blocks (16 per cell) use get fixed
// sizes that the compiler turns into a few register moves.
template <size_t N> struct fixed_records_t {
    size_t size() const { return N; }
    void swap(uint8_t* a, uint8_t* b) const {
        uint8_t t[N];
        std::memcpy(t, a, N);
        std::memcpy(a, b, N);
        std::memcpy(b, t, N);
    }
    void copy(uint8_t* to, const uint8_t* from) const { std::memcpy(to, from, N); }
};

struct word_records_t {
    size_t bytes;
    size_t size() const { return bytes; }
    void swap(uint8_t* a, uint8_t* b) const {
        for (size_t i = 0; i < bytes; i += 4) {
            uint32_t x, y;
            std::memcpy(&x, a + i, 4);
            std::memcpy(&y, b + i, 4);
            std::memcpy(a + i, &y, 4);
            std::memcpy(b + i, &x, 4);
        }
    }
    void copy(uint8_t* to, const uint8_t* from) const { std::memcpy(to, from, bytes); }
};

struct byte_records_t {
    size_t bytes;
    size_t size() const { return bytes; }
    void swap(uint8_t* a, uint8_t* b) const {
        for (size_t i = 0; i < bytes; i++) {
            uint8_t t = a[i];
            a[i] = b[i];
            b[i] = t;
        }
    }
    void copy(uint8_t* to, const uint8_t* from) const { std::memcpy(to, from, bytes); }
};

template <class Fn> void with_records(size_t size, Fn&& fn) {
    switch (size) {
    case 1: fn(fixed_records_t<1>{}); return;
    case 2: fn(fixed_records_t<2>{}); return;
    case 4: fn(fixed_records_t<4>{}); return;
    case 8: fn(fixed_records_t<8>{}); return;
    case 16: fn(fixed_records_t<16>{}); return;
    default:
        if (size % 4 == 0) fn(word_records_t{size});
        else fn(byte_records_t{size});
    }
}

inline int sign(int32_t r) { return (r > 0) - (r < 0); }

// Records stay where they are between exchanges: an exception from the
// comparator leaves a permutation of the input.
template <class R> struct sorter_t {
    R records;
    uintptr_t user1;
    uintptr_t user2;
    compare_fn compare_records;

    size_t size() const { return records.size(); }
    uint8_t* at(uint8_t* base, size_t i) const { return base + i * size(); }
    int32_t compare(const uint8_t* a, const uint8_t* b) const {
        return compare_records(a, b, user1, user2);
    }
    void swap(uint8_t* a, uint8_t* b) const { records.swap(a, b); }

    // Exchanges n records at from with n records at to. When the ranges
    // overlap, the order of the exchanges decides whether the block arrives
    // whole: forwards when moving down, backwards when moving up.
    void swap_block(uint8_t* to, uint8_t* from, size_t n) const {
        if (to == from) return;
        size_t s = size();
        if (to < from) {
            for (size_t t = 0; t < n; t++) swap(to + t * s, from + t * s);
        } else {
            for (size_t t = n; t-- > 0;) swap(to + t * s, from + t * s);
        }
    }

    void reverse(uint8_t* base, size_t count) const {
        if (count < 2) return;
        uint8_t* a = base;
        uint8_t* b = at(base, count - 1);
        while (a < b) {
            swap(a, b);
            a += size();
            b -= size();
        }
    }

    void insertion_sort(uint8_t* base, size_t count) const {
        for (size_t r = 1; r < count; r++) {
            for (size_t q = r; q > 0 && compare(at(base, q - 1), at(base, q)) > 0; q--) {
                swap(at(base, q - 1), at(base, q));
            }
        }
    }

    // The quicksort's way out when its pivots keep failing: bounded time
    // and stack whatever the input, still by exchanges only.
    void sift_down(uint8_t* base, size_t root, size_t count) const {
        for (;;) {
            size_t child = 2 * root + 1;
            if (child >= count) return;
            if (child + 1 < count && compare(at(base, child), at(base, child + 1)) < 0) child++;
            if (compare(at(base, root), at(base, child)) >= 0) return;
            swap(at(base, root), at(base, child));
            root = child;
        }
    }
    void heapsort(uint8_t* base, size_t count) const {
        for (size_t i = count / 2; i-- > 0;) sift_down(base, i, count);
        for (size_t n = count; n-- > 1;) {
            swap(base, at(base, n));
            sift_down(base, 0, n);
        }
    }

    void qsort(uint8_t* base, size_t count) const;
    void qsort_partial(uint8_t* base, ptrdiff_t sorted, size_t count, int budget) const;
    size_t find_run(uint8_t* base, size_t start, size_t end) const;
    size_t extended_run(uint8_t* base, size_t start, size_t count) const;
    void merge(uint8_t* low, uint8_t* middle, uint8_t* high, uint8_t* buffer) const;
    void mergesort(uint8_t* base, size_t count, uint8_t* buffer) const;
};

// Each partition spends one unit; an input that exhausts the budget is not
// being split evenly and goes to the heapsort instead.
int partition_budget(size_t count) { return 2 * static_cast<int>(std::bit_width(count)) + 8; }

template <class R> void sorter_t<R>::qsort(uint8_t* base, size_t count) const {
    if (count < 2) return;
    const size_t s = size();

    // The leading run, ties allowed, and its direction.
    int d = 0;
    size_t i = 1;
    for (; i < count; i++) {
        int r = sign(compare(at(base, i - 1), at(base, i)));
        if (r == 0) continue;
        if (d == 0) d = r < 0 ? 1 : -1;
        else if (r * d > 0) break;
    }

    // Sparse samples of the rest say whether the whole input leans the same way.
    int64_t score = static_cast<int64_t>(d) * static_cast<int64_t>(i);
    for (size_t j = i + 1; j < count; j += 97) score -= sign(compare(at(base, j - 1), at(base, j)));

    uint8_t* last = at(base, i - 1);
    uint8_t* end = at(base, count);
    if ((score < 0 ? -score : score) > static_cast<int64_t>(count / 512)) {
        if (d * score < 0) {
            last = base;
            d = -d;
        }
        // Probe every 10 records for a run in direction d and append it to
        // the sorted prefix; what it displaces is left for the quicksort.
        uint8_t* hi = last;
        while (static_cast<size_t>(end - hi) > 10 * s) {
            hi += 10 * s;
            uint8_t* lo = hi - s;
            while (hi < end && d * sign(compare(hi - s, hi)) < 1) hi += s;
            while (lo > last + s && d * sign(compare(lo - s, lo)) < 1) lo -= s;
            size_t run = static_cast<size_t>(hi - lo) / s;
            if (run < 4) continue;
            // A prefix of fewer than 5 records could give up no record to an
            // overlapping run and would make every later run be dropped: the
            // run takes its place, as it does that of a single record.
            uint8_t* destination = base;
            size_t m = std::min(run / 2, static_cast<size_t>(last - base) / s / 4);
            if (m > 0) {
                size_t k = 0;
                while (k < m && d * sign(compare(last - k * s, lo + k * s)) > 0) k++;
                if (k == m) continue;  // too much overlap with the prefix
                destination = last + s - k * s;
                lo += k * s;
            }
            if (lo == destination) {
                last = hi;
            } else {
                for (; lo < hi; lo += s, destination += s) swap(destination, lo);
                last = destination;
            }
            last -= s;
        }
    }

    size_t prefix = static_cast<size_t>(last - base) / s + 1;
    if (d == -1) reverse(base, prefix);
    if (prefix < count)
        qsort_partial(base, static_cast<ptrdiff_t>(prefix), count, partition_budget(count));
}

template <class R>
void sorter_t<R>::qsort_partial(uint8_t* base, ptrdiff_t sorted, size_t count, int budget) const {
    while (count > 7) {
        if (budget-- <= 0) {
            heapsort(base, count);
            return;
        }
        size_t h = static_cast<size_t>(sorted < 0 ? -sorted : sorted);
        size_t window = count;
        size_t below = 0, above = 0;
        if (h < 3) {
            // Median of three from the first 63 records (or all of them).
            if (count > 511) window = 63;
            swap(at(base, 1), at(base, window / 2));
            if (compare(at(base, 0), at(base, 1)) > 0) swap(at(base, 0), at(base, 1));
            if (compare(at(base, 1), at(base, window - 1)) > 0) {
                swap(at(base, 1), at(base, window - 1));
                if (compare(at(base, 0), at(base, 1)) > 0) swap(at(base, 0), at(base, 1));
            }
            below = 1;
            above = 1;
        } else {
            // The sorted sample supplies the pivot, its median; while it is
            // small against the input, a window 16 times its size is sorted
            // first, so the next sample is 16 times larger.
            if (h <= count / 256) window = 16 * h - 1;
            if (sorted < 0) {
                if (window < count) {
                    swap_block(base, at(base, count - h), h);
                    sorted = static_cast<ptrdiff_t>(h);
                } else {
                    size_t low_half = (h + 1) / 2;
                    swap_block(base, at(base, count - h), low_half);
                    below = low_half - 1;
                    above = h / 2;
                }
            }
            if (sorted > 0) {
                if (window < count) {
                    size_t step = count / window;
                    for (size_t t = 1; t < window - h; t++)
                        swap(at(base, h + t), at(base, h + t * step));
                }
                swap_block(at(base, window - h / 2), at(base, h - h / 2), h / 2);
                below = (h - 1) / 2;
                above = h / 2;
            }
        }

        // Three-way partition of [below + 1, window - above): records equal
        // to the pivot gather in [below + 1, e), smaller ones in [e, i),
        // greater ones from i on.
        const uint8_t* pivot = at(base, below);
        ptrdiff_t e = static_cast<ptrdiff_t>(below) + 1;
        ptrdiff_t i = e;
        ptrdiff_t j = static_cast<ptrdiff_t>(window - above) - 1;
        for (;;) {
            while (i <= j) {
                int32_t c = compare(at(base, i), pivot);
                if (c > 0) break;
                if (c == 0) {
                    if (i != e) swap(at(base, i), at(base, e));
                    e++;
                }
                i++;
            }
            if (i > j) break;
            int32_t cj = 0;
            while (j > i) {
                cj = compare(at(base, j), pivot);
                if (cj > 0) j--;
                else break;
            }
            if (j == i) break;
            swap(at(base, i), at(base, j));
            if (cj == 0) {
                if (i != e) swap(at(base, i), at(base, e));
                e++;
            }
            i++;
            j--;
        }

        // The pivot and its equals go between the smaller and greater records.
        size_t equals = static_cast<size_t>(e) - below;
        size_t smaller = static_cast<size_t>(i - e);
        size_t moved = std::min(equals, smaller);
        swap_block(at(base, below), at(base, static_cast<size_t>(i) - moved), moved);

        size_t upper = window - static_cast<size_t>(i);
        if (upper > above)
            qsort_partial(at(base, static_cast<size_t>(i)), -static_cast<ptrdiff_t>(above), upper,
                          budget);
        size_t lower = static_cast<size_t>(i) - equals;
        if (window < count) {
            if (lower > below) qsort_partial(base, static_cast<ptrdiff_t>(below), lower, budget);
            sorted = static_cast<ptrdiff_t>(window);
        } else {
            if (lower <= below) return;
            sorted = static_cast<ptrdiff_t>(below);
            count = lower;
        }
    }
    insertion_sort(base, count);
}

template <class R> size_t sorter_t<R>::find_run(uint8_t* base, size_t start, size_t end) const {
    size_t e = start + 1;
    if (e >= end) return end;
    if (compare(at(base, start), at(base, e)) > 0) {
        // Only a strictly descending run is reversed, so equal records never trade places.
        for (e++; e < end && compare(at(base, e - 1), at(base, e)) > 0; e++) {
        }
        reverse(at(base, start), e - start);
    } else {
        for (e++; e < end && compare(at(base, e - 1), at(base, e)) <= 0; e++) {
        }
    }
    return e;
}

// A run, extended by insertion to the minimum run length.
template <class R>
size_t sorter_t<R>::extended_run(uint8_t* base, size_t start, size_t count) const {
    constexpr size_t MIN_RUN = 24;
    size_t e = find_run(base, start, count);
    size_t target = std::min(start + MIN_RUN, count);
    for (; e < target; e++) {
        for (size_t q = e; q > start && compare(at(base, q - 1), at(base, q)) > 0; q--) {
            swap(at(base, q - 1), at(base, q));
        }
    }
    return e;
}

template <class R>
void sorter_t<R>::merge(uint8_t* low, uint8_t* middle, uint8_t* high, uint8_t* buffer) const {
    const size_t s = size();
    size_t left = static_cast<size_t>(middle - low);
    size_t right = static_cast<size_t>(high - middle);
    if (left == 0 || right == 0) return;

    // The records in the buffer always fill the gap in the array exactly;
    // the guard puts them there at the end, also when the comparator raises.
    struct refill_t {
        uint8_t*& gap;
        uint8_t* const& from;
        uint8_t* const& to;
        ~refill_t() { std::memcpy(gap, from, static_cast<size_t>(to - from)); }
    };

    if (right < left) {
        std::memcpy(buffer, middle, right);
        uint8_t* l = middle;  // end of the left records not yet placed
        uint8_t* b = buffer + right;
        uint8_t* out = high;
        {
            refill_t refill{l, buffer, b};
            while (l > low && b > buffer) {
                out -= s;
                if (compare(l - s, b - s) > 0) {
                    l -= s;
                    records.copy(out, l);
                } else {
                    b -= s;
                    records.copy(out, b);
                }
            }
        }
    } else {
        std::memcpy(buffer, low, left);
        uint8_t* b = buffer;
        uint8_t* const b_end = buffer + left;
        uint8_t* r = middle;
        uint8_t* out = low;
        {
            refill_t refill{out, b, b_end};
            while (b < b_end && r < high) {
                if (compare(b, r) <= 0) {
                    records.copy(out, b);
                    b += s;
                } else {
                    records.copy(out, r);
                    r += s;
                }
                out += s;
            }
        }
    }
}

template <class R> void sorter_t<R>::mergesort(uint8_t* base, size_t count, uint8_t* buffer) const {
    // Runs waiting to be merged: {first record, node power}; powers rise
    // strictly from the sentinel up, so 64 bits of count bound the depth.
    struct pending_run_t {
        size_t start;
        unsigned power;
    };
    pending_run_t stack[66];
    size_t top = 0;
    stack[0] = {0, 0};

    const uint64_t n = count;
    size_t s1 = 0;
    size_t e1 = extended_run(base, 0, count);
    while (e1 < count) {
        size_t s2 = e1;
        size_t e2 = extended_run(base, s2, count);
        uint64_t a = s1 + e1;
        uint64_t b = e1 + e2;
        unsigned p = 0;
        while ((a < n) == (b < n)) {
            p++;
            if (a >= n) {
                a -= n;
                b -= n;
            }
            a *= 2;
            b *= 2;
        }
        p++;
        while (stack[top].power > p) {
            merge(at(base, stack[top].start), at(base, s1), at(base, e1), buffer);
            s1 = stack[top].start;
            top--;
        }
        stack[++top] = {s1, p};
        s1 = s2;
        e1 = e2;
    }
    for (; top > 0; top--) {
        merge(at(base, stack[top].start), at(base, s1), at(base, count), buffer);
        s1 = stack[top].start;
    }
}

// The process heap's merge buffer, given back however the sort ends. Its size
// follows the data: when the system refuses it, the sort fails with
// no-memory and the run goes on.
struct heap_buffer_t {
    void* block;
    explicit heap_buffer_t(size_t bytes) : block(std::malloc(bytes == 0 ? 1 : bytes)) {
        if (block == nullptr) fire(err::no_memory);
    }
    ~heap_buffer_t() { std::free(block); }
    heap_buffer_t(const heap_buffer_t&) = delete;
    heap_buffer_t& operator=(const heap_buffer_t&) = delete;
};

}  // namespace

void qsort(void* base, size_t count, size_t size, uintptr_t user1, uintptr_t user2,
           compare_fn compare) {
    if (count < 2 || size == 0) return;
    with_records(size, [&](auto records) {
        sorter_t<decltype(records)>{records, user1, user2, compare}.qsort(
            static_cast<uint8_t*>(base), count);
    });
}

void qsort_partial(void* base, ptrdiff_t sorted, size_t count, size_t size, uintptr_t user1,
                   uintptr_t user2, compare_fn compare) {
    if (count < 2 || size == 0) return;
    with_records(size, [&](auto records) {
        sorter_t<decltype(records)>{records, user1, user2, compare}.qsort_partial(
            static_cast<uint8_t*>(base), sorted, count, partition_budget(count));
    });
}

void mergesort(void* base, size_t count, size_t size, uintptr_t user1, uintptr_t user2,
               compare_fn compare, void* buffer) {
    if (count < 2 || size == 0) return;
    constexpr size_t LIMIT = 0x7FFFFFFF;
    std::optional<heap_buffer_t> own;
    if (buffer == nullptr) {
        size_t half = count / 2;
        if (half > LIMIT / size) fire(err::too_long);
        own.emplace(half * size);
        buffer = own->block;
    }
    with_records(size, [&](auto records) {
        sorter_t<decltype(records)>{records, user1, user2, compare}.mergesort(
            static_cast<uint8_t*>(base), count, static_cast<uint8_t*>(buffer));
    });
}

void* find_run(void* start, void* end, size_t size, uintptr_t user1, uintptr_t user2,
               compare_fn compare) {
    if (size == 0 || start >= end) return end;
    uint8_t* base = static_cast<uint8_t*>(start);
    size_t count = static_cast<size_t>(static_cast<uint8_t*>(end) - base) / size;
    size_t run = 0;
    with_records(size, [&](auto records) {
        run = sorter_t<decltype(records)>{records, user1, user2, compare}.find_run(base, 0, count);
    });
    return base + run * size;
}

void merge(void* low, void* middle, void* high, void* buffer, const record_order_t& order) {
    if (order.size == 0) return;
    with_records(order.size, [&](auto records) {
        sorter_t<decltype(records)>{records, order.user1, order.user2, order.compare}.merge(
            static_cast<uint8_t*>(low), static_cast<uint8_t*>(middle), static_cast<uint8_t*>(high),
            static_cast<uint8_t*>(buffer));
    });
}

void swap_records(void* a, void* b, size_t bytes) {
    uint8_t* x = static_cast<uint8_t*>(a);
    uint8_t* y = static_cast<uint8_t*>(b);
    if (bytes % 4 == 0) word_records_t{bytes}.swap(x, y);
    else byte_records_t{bytes}.swap(x, y);
}

}  // namespace zuv::sort
