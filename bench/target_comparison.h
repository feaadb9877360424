// The Windows build's figures against the native build's, from rounds of
// both_targets_bench run in turn.
#pragma once

#include <string>

// Reads DIR/native-K.tsv and DIR/windows-K.tsv for K = 1..rounds and
// prints, for each case, the median of the rounds' figures of each build,
// the rounds' range, and the Windows build's over the native one's.
bool printTargetComparison(const std::string& directory, int rounds);
