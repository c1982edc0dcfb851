// External resources: things outside the runtime's memory (bitmaps, fonts,
// foreign objects) that values reach by an index into the externals table.
//
// Each record holds a resource pointer and its kind; the kind's release
// callback frees the resource. The collector marks the records live values
// reach and, after marking, releases every unmarked one exactly once.
#pragma once

#include <cstdint>

namespace zan::externals {

constexpr int max_kinds = 20;

using Release = void (*)(void* resource);

// Kinds are numbered from 1 in order of registration; answers 0 when all 20
// are taken.
int register_kind(const char* name, Release release);
const char* kind_name(int kind);

// Answers the record's index.
int32_t add(void* resource, int kind);
// Stores a new pointer; a different old one is released through its kind.
void replace(int32_t index, void* resource);
// Optionally releases, then frees the record; answers -1 (no record).
int32_t remove(int32_t index, bool release);
// Marks a live record, storing the pointer when one is given; answers true
// when it was not yet marked. Indexes of no live record are ignored.
bool mark(int32_t index, void* resource = nullptr);
// Calls fn with the resource of every live record of the kind, in live order.
void for_each_of_kind(int kind, void (*fn)(void* resource));
// Calls the release callback of the kind in the low byte of kind_word.
void release(uint32_t kind_word, void* resource);

void* resource(int32_t index);
int kind_of(int32_t index);
uint32_t capacity();

// Run by the collector after marking: releases unmarked resources.
void sweep();

// Makes the kinds and the table; called lazily otherwise.
void init();

}  // namespace zan::externals
