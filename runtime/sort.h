// The runtime's two general sorts of fixed-size records in memory.
//
// qsort is an in-place adaptive quicksort: it recognises input that is
// already ordered (ascending, descending, or mostly so) and handles it in
// linear time, and otherwise partitions around pivots taken from a growing
// sorted sample. It allocates nothing and is not stable. mergesort is a
// stable natural merge sort: it finds existing runs, extends short ones by
// insertion and merges them in the order their node powers give; it needs a
// scratch buffer of half the data, from the caller or from the process heap.
//
// The comparator gets the addresses of two records and the caller's two user
// words, and answers negative (A goes first), 0, or positive (A goes after B).
//
// The rule everything here depends on: records are addressed by raw pointers
// for the whole sort, so they must not move while it runs. A caller whose
// comparator runs user code (which may allocate, collect and move series
// buffers) sorts records that live outside the managed heap, for example
// indexes into the series, and applies the order afterwards.
//
// A comparator may raise (a C++ exception). Every sort moves records only by
// exchanging or merging them, and a merge puts its buffered records back when
// an exception passes, so the records are then a partly sorted permutation of
// the input; an allocated merge buffer is freed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::sort {

using compare_fn = int32_t (*)(const void* a, const void* b, uintptr_t user1, uintptr_t user2);

// What a merge needs to order records.
struct record_order_t {
    size_t size;
    uintptr_t user1;
    uintptr_t user2;
    compare_fn compare;
};

// In place, not stable.
void qsort(void* base, size_t count, size_t size, uintptr_t user1, uintptr_t user2,
           compare_fn compare);

// The quicksort proper. sorted > 0: the first sorted records are already in
// order among themselves; sorted < 0: the last -sorted records are. That
// sorted sample supplies the pivots.
void qsort_partial(void* base, ptrdiff_t sorted, size_t count, size_t size, uintptr_t user1,
                   uintptr_t user2, compare_fn compare);

// In place, stable. buffer: at least size x floor(count / 2) bytes, or nullptr
// to take one from the process heap (raises too-long when that size does not
// fit in 31 bits, before anything is moved).
void mergesort(void* base, size_t count, size_t size, uintptr_t user1, uintptr_t user2,
               compare_fn compare, void* buffer = nullptr);

// End of the run that starts at start: non-descending, or strictly
// descending, in which case it is reversed in place first.
void* find_run(void* start, void* end, size_t size, uintptr_t user1, uintptr_t user2,
               compare_fn compare);

// Stable merge of the adjacent sorted ranges [low, middle) and [middle, high);
// the buffer holds the shorter of the two.
void merge(void* low, void* middle, void* high, void* buffer, const record_order_t& order);

// Exchanges bytes bytes at a and b (one record, or a block of n records):
// 4 bytes at a time when bytes is a multiple of 4, else byte by byte.
void swap_records(void* a, void* b, size_t bytes);

}  // namespace zuv::sort
