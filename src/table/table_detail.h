// Internals of the fragment table that tests reach.
#pragma once

#include "table/table.h"

// Whether slot s was ever filled (it then stays occupied for the run).
bool table_slot_occupied(const FragmentTable& t, int s);

// The fragment of the current length that occupies slot s, or null when the slot
// is free or its fragment belongs to an earlier length. A linear search.
const FragmentTable::Live* table_live_of_slot(const FragmentTable& t, int s);

// The slots of the current length's fragments, in order of first entry.
std::vector<int> table_live_slots(const FragmentTable& t);
