// Run under UndefinedBehaviorSanitizer: the roughness frame starts of the
// longest signals the engine takes, where f * 4800 no longer fits 32 bits.
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "roughness_dw/dw_engine.h"

int main() {
    const int32_t last_frame = (INT32_MAX - 9600) / 4800;  // of a 2^31 - 1 sample signal
    int failures = 0;
    for (int32_t f : {0, 223696, 223697, 300000, last_frame}) {
        const int64_t start = qn_dw_frame_start(f, 4800);
        if (start != int64_t{f} * 4800 || start < 0 || start + 9600 > int64_t{INT32_MAX} + 1) {
            std::printf("frame %d: start %lld\n", f, static_cast<long long>(start));
            ++failures;
        }
    }
    std::printf("frame starts checked up to frame %d\n", last_frame);
    return failures == 0 ? 0 : 1;
}
