#include "TourIndex.h"

bool TourIndexIsFree(int j, const std::vector<int>& indices) {
    for (std::size_t p = 0; p < indices.size(); ++p) {
        const int v = indices[p];
        if (p == 0 && j < v)
            return true;
        if (j >= v && static_cast<long long>(p) + 1 >= j)
            return false;
        if (j < v)
            return true;
    }
    return true;
}

int FirstFreeTourIndex(const std::vector<int>& indices) {
    for (int j = 1; j <= 999999; ++j)
        if (TourIndexIsFree(j, indices))
            return j;
    return 1;
}
