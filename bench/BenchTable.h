#pragma once

// One row of the table that ./vornik bench prints over all benchmark programs: what was measured, its
// figure, the baseline measured in the same run on the same machine, their ratio, and the goal. Rows go
// to standard output as tab-separated text, the script lines up the columns; anything else a program
// wants to say belongs on standard error, which the script keeps in a log.
#include <cstdio>

namespace bench {

inline void PrintRow(const char* pszMeasure, const char* pszFigure, const char* pszBaseline,
                     const char* pszRatio, const char* pszGoal) {
    printf("%s\t%s\t%s\t%s\t%s\n", pszMeasure, pszFigure, pszBaseline, pszRatio, pszGoal);
    fflush(stdout);
}

} // namespace bench
