// Version, ABI number and the status texts.
#include "quarnelo.h"

namespace {

// Indexed by the status value; frozen for ABI 1.
constexpr const char *status_text[] = {
    "success",
    "null pointer",
    "invalid argument",
    "invalid sample rate",
    "invalid sound field",
    "input contains NaN or infinity",
    "input is too short",
    "output buffer is too small",
    "size calculation overflow",
    "memory allocation failed",
    "numerical calculation failed",
};
constexpr uint32_t status_text_count = sizeof status_text / sizeof status_text[0];
static_assert(status_text_count == QN_STATUS_NUMERICAL_FAILURE + 1);

}  // namespace

extern "C" {

QN_API int32_t qn_abi_version(void) { return QN_ABI_VERSION; }

QN_API const char *qn_version_string(void) { return QN_VERSION_STRING; }

QN_API const char *qn_status_string(qn_status status) {
    const auto index = static_cast<uint32_t>(status);
    return index < status_text_count ? status_text[index] : "unknown status";
}

}  // extern "C"
