// Four-corner fidelity table (see fourcorner_fidelity.cpp).
#pragma once

// Prints, per quad family and per source size, holes, spill, alpha and
// colour error and empty results for FourCornerMapLayer and for pixman with
// and without a coverage mask; quadsPerFamily quads in each of six families,
// each drawn from five sources.
void RunFourCornerFidelity(int quadsPerFamily);
