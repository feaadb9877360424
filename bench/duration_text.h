// A time as the benchmarks' tables print it: in ns, us or ms; "-" for none.
#pragma once

#include <cstdio>
#include <string>

inline std::string duration(double ns)
{
    char text[32];
    if (ns < 0)
        return "-";
    if (ns < 1e3)
        std::snprintf(text, sizeof text, "%.2f ns", ns);
    else if (ns < 1e6)
        std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    return text;
}
