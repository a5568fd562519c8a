// The proofs beside the number conversions (and the letter code's bins,
// computed in single precision) hold only when every float and double
// operation is rounded once, to its own type, and the compiler neither
// reassociates nor assumes away infinities and NaNs. A build where that is
// not so stops here rather than giving other numbers. (Contraction into
// fused multiply-adds is turned off for the whole build.)
#pragma once

#include <cfloat>

static_assert(FLT_EVAL_METHOD == 0,
              "float and double operations must be evaluated in their own precision");

#ifdef __FAST_MATH__
#error "the number conversions are exact only without -ffast-math"
#endif
