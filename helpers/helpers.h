// Library functions with compiled bodies.
//
// A few helpers of the library sit under the inner loops of ordinary
// programs: `pad`, `rejoin`, `split`, the short math names, `to-integer`,
// `to-float`, `to-string`, the tracer's `mold-part` and collector, the JSON codec's `to-json` and
// `load-json`, the CSV codec's `to-csv` and `load-csv`. They stay function! values made by their
// Zuv source, with that source's spec, help texts and body (what `source` and `help` show); once
// the sources have run, each gets a C++ entry in its more series (function::MORE_CODE), and a call
// runs the entry instead of interpreting the body. The Zuv bodies stay the reference: an entry does
// what its body does with the same natives and actions underneath, and hands a case it does not
// take on (an overflow on the way, a delimiter that would never move the search on, text that is no
// JSON) to the body itself, in the same frame.
//
// Entries follow the routine protocol (datatypes/routine.h): the call frame
// from stack::arguments on, laid out as function.h describes and already
// checked against the spec; the result goes to stack::arguments.
#pragma once

#include "runtime/cell.h"

namespace zuv::helpers {

// Gives each compiled helper still bound to its global word its entry. Run
// once, after the last library source.
void attach();

// Runs the interpreted body of the function being called (the callee cell
// just below the frame): the fallback of an entry.
void run_body();

// Entries, one file per family.
void pad();
void rejoin();
void split();
void cos();
void sin();
void tan();
void acos();
void asin();
void atan();
void atan2();
void sqrt();
void to_json();
void load_json();
void to_csv();
void load_csv();
void to_integer();
void to_float();
void to_string();
void mold_part();  // system/tools/tracers/mold-part
void collector();  // system/tools/tracers/data/collector

// Finds the words and functions the collector's entry works on, in the
// tracers object the library made.
void find_collector_words(const cell_t* tracers);

// mold-part's steps for the tracer's entries: the molded text goes to out (a
// cell the collector sees). False, with nothing done, for a part the entry
// leaves to the body.
bool mold_part_into(cell_t* out, const cell_t* value, int32_t part, bool only);

}  // namespace zuv::helpers
