#pragma once
#include <vector>

// The first tour index 1..999999 that is free in the indices read (in their order); 1 if none.
int FirstFreeTourIndex(const std::vector<int>& indices);
// Whether candidate is free against the indices, by the walk the store has always used.
bool TourIndexIsFree(int candidate, const std::vector<int>& indices);
