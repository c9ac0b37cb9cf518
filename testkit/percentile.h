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

// The middle value, the upper of the two middle ones of an even count; 0
// when there are none.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
