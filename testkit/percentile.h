#pragma once

#include <algorithm>
#include <vector>

// The value q (0 to 1) of the way up the sorted values; 0 when there are none.
inline double percentile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(q * double(values.size() - 1))];
}
