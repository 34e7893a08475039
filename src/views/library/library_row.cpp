#include "views/library/library_row.h"

#include <QtGlobal>

#include <algorithm>

namespace tampod {

bool LibraryRow::sameBesidesBPM(const LibraryRow &other) const
{
    LibraryRow copy = *this;
    copy.bpm = other.bpm;
    copy.bpmStatus = other.bpmStatus;
    copy.canDetectBPM = other.canDetectBPM;
    return copy == other;
}

namespace LibraryColumns {

std::array<int, count + 1> edges(int tableWidth, double s)
{
    std::array<int, count + 1> x{};
    x[exportCheck + 1] = qRound(widths[exportCheck] * s);
    // The columns right of Name are placed from the table's right edge.
    x[count] = tableWidth;
    double fromRight = 0;
    for (int c = count - 1; c > name; --c) {
        fromRight += widths[c];
        x[c] = tableWidth - qRound(fromRight * s);
    }
    const int shortOf = x[name] + nameMinimum - x[name + 1];
    if (shortOf > 0) {
        for (int c = name + 1; c <= count; ++c)
            x[c] += shortOf;
    }
    return x;
}

} // namespace LibraryColumns

} // namespace tampod
