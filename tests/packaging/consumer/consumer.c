/* A program outside the tree: links the installed library and checks one
 * loudness value. */
#include <math.h>
#include <stdio.h>

#include <quarnelo.h>

int main(void) {
    double levels[QN_THIRD_OCTAVE_BANDS];
    double loudness = 0;
    int i;
    for (i = 0; i < QN_THIRD_OCTAVE_BANDS; ++i) levels[i] = 60.0;
    if (qn_loudness_from_levels(levels, QN_THIRD_OCTAVE_BANDS, QN_SOUND_FIELD_FREE, &loudness,
                                NULL, 0) != QN_STATUS_SUCCESS) {
        fprintf(stderr, "consumer: call failed\n");
        return 1;
    }
    if (fabs(loudness - 31.938752679754828) > 1e-9) {
        fprintf(stderr, "consumer: loudness %.17g\n", loudness);
        return 1;
    }
    printf("consumer: libquarnelo %s, 60 dB pink-ish spectrum: %.4f sone\n", qn_version_string(),
           loudness);
    return 0;
}
