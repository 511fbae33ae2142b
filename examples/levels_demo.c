/* Loudness of a built-in third-octave spectrum in both sound fields: a
 * traffic-like noise falling 3 dB per band above 500 Hz, with a tonal peak at
 * 1 kHz. */
#include <stdio.h>

#include "quarnelo.h"

int main(void) {
    static const double levels[QN_THIRD_OCTAVE_BANDS] = {
        /* 25 Hz ... 250 Hz */
        58, 60, 62, 63, 64, 65, 66, 66, 67, 67, 68,
        /* 315 Hz ... 800 Hz */
        68, 68, 67, 65, 63,
        /* 1 kHz tone */
        72,
        /* 1.25 kHz ... 12.5 kHz */
        59, 57, 55, 53, 51, 49, 47, 45, 43, 41, 39};
    static const char *const names[2] = {"free", "diffuse"};
    const double *bark = qn_bark_axis();
    const double *hz = qn_third_octave_centres_hz();
    qn_sound_field field;
    int i;

    printf("libquarnelo %s - ISO 532-1 loudness of a built-in third-octave spectrum\n\n",
           qn_version_string());
    printf("band levels (dB re 20 uPa):\n");
    for (i = 0; i < QN_THIRD_OCTAVE_BANDS; ++i) {
        printf("  %7.1f Hz %5.1f dB%s", hz[i], levels[i], (i % 4 == 3) ? "\n" : "");
    }
    printf("\n%-8s  %12s  %22s  %12s\n", "field", "loudness", "specific-loudness peak", "at");
    printf("%-8s  %12s  %22s  %12s\n", "", "(sone)", "(sone/Bark)", "(Bark)");
    for (field = QN_SOUND_FIELD_FREE; field <= QN_SOUND_FIELD_DIFFUSE; ++field) {
        double loudness = 0;
        double specific[QN_BARK_POINTS];
        int k, peak = 0;
        qn_status status = qn_loudness_from_levels(levels, QN_THIRD_OCTAVE_BANDS, field, &loudness,
                                                   specific, QN_BARK_POINTS);
        if (status != QN_STATUS_SUCCESS) {
            fprintf(stderr, "levels_demo: %s\n", qn_status_string(status));
            return 1;
        }
        for (k = 1; k < QN_BARK_POINTS; ++k) {
            if (specific[k] > specific[peak]) peak = k;
        }
        printf("%-8s  %12.3f  %22.3f  %12.1f\n", names[field], loudness, specific[peak], bark[peak]);
    }
    return 0;
}
