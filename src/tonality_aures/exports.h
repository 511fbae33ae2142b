// The export layer of the Aures tonality: the only place where the engine's
// result codes become statuses.
#ifndef QN_TONALITY_AURES_EXPORTS_H
#define QN_TONALITY_AURES_EXPORTS_H

#include <cstdint>

#include "quarnelo.h"

// The status of an engine call that was asked for `frames` frames and
// returned `result` with `frames_after` in its in/out count: a failed
// scratch request, transform or plan is QN_STATUS_ALLOCATION_FAILED; every
// other code, and any disagreement about the frame count, is
// QN_STATUS_NUMERICAL_FAILURE.
qn_status qn_tonality_aures_status(int32_t result, int32_t frames_after, int32_t frames) noexcept;

#endif
