/* Compiled as strict C99 against the public header: proves the header is C
 * and that every export links and answers from C. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "quarnelo.h"

static int failures = 0;

static void expect(int condition, const char *what) {
    if (!condition) {
        fprintf(stderr, "header_c99: %s\n", what);
        ++failures;
    }
}

int main(void) {
    double levels[QN_THIRD_OCTAVE_BANDS];
    double specific[QN_BARK_POINTS];
    double loudness = -1.0;
    qn_status status;
    qn_sound_field field = QN_SOUND_FIELD_DIFFUSE;
    int i;

    expect(qn_abi_version() == QN_ABI_VERSION, "abi version");
    expect(strcmp(qn_version_string(), QN_VERSION_STRING) == 0, "version string");
    expect(QN_VERSION_NUMBER == 202, "version number");
    expect(strcmp(qn_status_string(QN_STATUS_SUCCESS), "success") == 0, "status text");
    expect(qn_third_octave_centres_hz()[16] == 1000.0, "third-octave axis");
    expect(qn_bark_axis()[239] == 24.0, "bark axis");

    for (i = 0; i < QN_THIRD_OCTAVE_BANDS; ++i) levels[i] = 60.0;
    status = qn_loudness_from_levels(levels, QN_THIRD_OCTAVE_BANDS, field, &loudness, specific,
                                     QN_BARK_POINTS);
    expect(status == QN_STATUS_SUCCESS, "loudness from levels status");
    expect(loudness > 33.86 && loudness < 33.87, "loudness from levels value");

    {
        /* 1000 samples of a 1 kHz tone, 0.1 Pa peak. */
        static double tone[1000];
        static double frames_loudness[11];
        static double frames_specific[11 * QN_BARK_POINTS];
        uint64_t frames = 0;
        double sharpness = -1.0;
        for (i = 0; i < 1000; ++i) tone[i] = 0.1 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_loudness_stationary(tone, 1000, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, &loudness,
                                        specific, QN_BARK_POINTS);
        expect(status == QN_STATUS_SUCCESS && loudness > 0.0, "stationary loudness");
        status = qn_sharpness_din(specific, QN_BARK_POINTS, &sharpness);
        expect(status == QN_STATUS_SUCCESS && sharpness > 0.0, "sharpness");
        status = qn_loudness_time_frame_count(1000, QN_SAMPLE_RATE, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 11, "time frame count");
        status = qn_loudness_time(tone, 1000, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, frames_loudness, 11,
                                  frames_specific, 11 * QN_BARK_POINTS, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 11 && frames_loudness[10] > 0.0,
               "time-varying loudness");
    }

    {
        /* 9600 samples of a 1 kHz tone, 70 Hz modulated: one roughness frame. */
        static double am[9600];
        double roughness = -1.0;
        uint64_t frames = 0;
        for (i = 0; i < 9600; ++i)
            am[i] = 0.028 * (1.0 + sin(6.283185307179586 * 70.0 * i / 48000.0)) *
                    sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_roughness_frame_count(9600, QN_SAMPLE_RATE, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 1, "roughness frame count");
        status = qn_roughness_dw(am, 9600, QN_SAMPLE_RATE, &roughness, 1, &frames);
        expect(status == QN_STATUS_SUCCESS && roughness > 0.5 && roughness < 2.0, "roughness");
    }

    {
        /* The same tone through a meter, in two blocks. */
        static double tone[1000];
        static double frames_loudness[11];
        qn_loudness_meter *meter = NULL;
        uint64_t frames = 0, first = 0, second = 0;
        double stationary = -1.0;
        for (i = 0; i < 1000; ++i) tone[i] = 0.1 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_loudness_meter_create(QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, &meter);
        expect(status == QN_STATUS_SUCCESS && meter != NULL, "meter create");
        status = qn_loudness_meter_frame_count(meter, 400, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 5, "meter frame count");
        status = qn_loudness_meter_add(meter, tone, 400, frames_loudness, 11, NULL, 0, &first);
        expect(status == QN_STATUS_SUCCESS && first == 5, "meter add");
        status = qn_loudness_meter_add(meter, tone + 400, 600, frames_loudness + first, 11 - first, NULL, 0,
                                       &second);
        expect(status == QN_STATUS_SUCCESS && first + second == 11 && frames_loudness[10] > 0.0,
               "meter add, second block");
        status = qn_loudness_meter_stationary(meter, &stationary, NULL, 0);
        expect(status == QN_STATUS_SUCCESS && stationary > 0.0, "meter stationary loudness");
        qn_loudness_meter_destroy(meter);
    }

    {
        /* 18000 samples of a 1 kHz tone of 60 dB: two tonality frames of
         * about 1 each. */
        static double tone[18000];
        double tonality[2] = {-1.0, -1.0};
        uint64_t frames = 0;
        for (i = 0; i < 18000; ++i) tone[i] = 0.028284271247461905 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_tonality_frame_count(18000, QN_SAMPLE_RATE, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 2, "tonality frame count");
        status = qn_tonality_aures(tone, 18000, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, tonality, 2, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 2, "tonality status");
        expect(tonality[0] > 0.99 && tonality[0] < 1.01 && tonality[1] > 0.99 && tonality[1] < 1.01, "tonality");
    }

    {
        /* 15360 samples (0.32 s), the shortest signal: 17 frames of 53
         * bands of ECMA-418-2 roughness. */
        static double am[15360];
        static double specific[17 * 53];
        uint64_t frames = 0;
        double peak = 0.0;
        for (i = 0; i < 15360; ++i)
            am[i] = 0.028 * (1.0 + sin(6.283185307179586 * 70.0 * i / 48000.0)) *
                    sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_ecma_roughness_frame_count(15360, QN_SAMPLE_RATE, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 17, "ECMA-418-2 roughness frame count");
        status = qn_roughness_ecma(am, 15360, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, specific, 17 * 53,
                                   &frames);
        for (i = 0; i < 17 * 53; ++i)
            if (specific[i] > peak) peak = specific[i];
        expect(status == QN_STATUS_SUCCESS && frames == 17 && specific[0] == 0.0 && peak > 0.1,
               "ECMA-418-2 roughness");
    }

    {
        /* 14592 samples (the shortest signal) of a 1 kHz tone at 60 dB SPL:
         * 58 frames of five arrays of 53 bands. */
        static double tone[14592];
        static double tonal[58 * 5 * QN_ECMA_BANDS];
        uint64_t frames = 0;
        double strongest = 0.0;
        for (i = 0; i < 14592; ++i) tone[i] = 0.0283 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_ecma_tonal_frame_count(14592, QN_SAMPLE_RATE, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 58, "ECMA-418-2 tonality frame count");
        status = qn_ecma_tonal_analysis(tone, 14592, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, tonal,
                                        58 * 5 * QN_ECMA_BANDS, &frames);
        /* Specific tonality (array 3) of the last frame, over the bands. */
        for (i = 0; i < QN_ECMA_BANDS; ++i)
            if (tonal[3 * 58 * QN_ECMA_BANDS + 57 * QN_ECMA_BANDS + i] > strongest)
                strongest = tonal[3 * 58 * QN_ECMA_BANDS + 57 * QN_ECMA_BANDS + i];
        expect(status == QN_STATUS_SUCCESS && frames == 58 && strongest > 0.5, "ECMA-418-2 tonality");
    }

    {
        /* ECMA-418-2 loudness of the shortest signal (58 frames; frame 57
         * alone enters the averages), its two ears combined and reduced,
         * and the same piece by piece. */
        static double tone[14592];
        static double series[58], specific[58 * QN_ECMA_BANDS], both[58 * QN_ECMA_BANDS];
        static double again[58];
        double averaged[QN_ECMA_BANDS], combined[QN_ECMA_BANDS];
        double value = -1.0, binaural = -1.0, piecewise = -1.0, roughness = -1.0;
        uint64_t frames = 0;
        qn_ecma_accumulator *accumulator = NULL;
        for (i = 0; i < 14592; ++i) tone[i] = 0.0283 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_loudness_ecma(tone, 14592, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, series, 58, averaged,
                                  QN_ECMA_BANDS, &value, specific, 58 * QN_ECMA_BANDS, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 58 && value > 1.0 && series[0] == 0.0,
               "ECMA-418-2 loudness");
        status = qn_ecma_binaural(specific, specific, 58 * QN_ECMA_BANDS, both, 58 * QN_ECMA_BANDS);
        expect(status == QN_STATUS_SUCCESS && memcmp(both, specific, sizeof both) == 0, "two equal ears");
        status = qn_ecma_aggregate(QN_ECMA_LOUDNESS, both, 58, again, 58, combined, QN_ECMA_BANDS,
                                   &binaural);
        expect(status == QN_STATUS_SUCCESS && binaural == value, "loudness of two equal ears");
        status = qn_ecma_accumulator_create(QN_ECMA_LOUDNESS, &accumulator);
        expect(status == QN_STATUS_SUCCESS, "accumulator");
        status = qn_ecma_accumulator_add(accumulator, specific, 50, again, 58);
        expect(status == QN_STATUS_SUCCESS, "accumulator, first piece");
        status = qn_ecma_accumulator_add(accumulator, specific + 50 * QN_ECMA_BANDS, 8, NULL, 0);
        expect(status == QN_STATUS_SUCCESS, "accumulator, second piece");
        status = qn_ecma_accumulator_result(accumulator, combined, QN_ECMA_BANDS, &piecewise);
        expect(status == QN_STATUS_SUCCESS && piecewise == value && combined[17] == averaged[17],
               "accumulator result");
        qn_ecma_accumulator_destroy(accumulator);
        status = qn_ecma_single_value(QN_ECMA_ROUGHNESS, series, 58, &roughness);
        expect(status == QN_STATUS_SUCCESS && roughness > 0.0, "single value of a series");
    }

    {
        /* The AM tone of 15360 samples again: roughness and loudness in one
         * pass, then through a stream in two blocks; both give the
         * roughness above. */
        static double am[15360];
        static double rough[17 * 53], again[17 * 53], loud[61 * 53];
        qn_ecma_stream *stream = NULL;
        uint64_t frames = 0, read = 0;
        for (i = 0; i < 15360; ++i)
            am[i] = 0.028 * (1.0 + sin(6.283185307179586 * 70.0 * i / 48000.0)) *
                    sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_roughness_ecma(am, 15360, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, rough, 17 * 53, &frames);
        expect(status == QN_STATUS_SUCCESS, "ECMA-418-2 roughness for the one pass");
        status = qn_ecma_analysis(am, 15360, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, NULL, 0, loud, 61 * 53,
                                  again, 17 * 53);
        expect(status == QN_STATUS_SUCCESS && memcmp(rough, again, sizeof rough) == 0 && loud[60 * 53 + 17] > 0.0,
               "ECMA-418-2 one pass");

        status = qn_ecma_stream_create(QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, QN_ECMA_ROUGHNESS | QN_ECMA_LOUDNESS,
                                       &stream);
        expect(status == QN_STATUS_SUCCESS && stream != NULL, "ECMA-418-2 stream create");
        status = qn_ecma_stream_add(stream, am, 10000);
        expect(status == QN_STATUS_SUCCESS, "ECMA-418-2 stream add");
        status = qn_ecma_stream_add(stream, am + 10000, 5360);
        expect(status == QN_STATUS_SUCCESS, "ECMA-418-2 stream add, second block");
        status = qn_ecma_stream_finish(stream);
        expect(status == QN_STATUS_SUCCESS, "ECMA-418-2 stream finish");
        status = qn_ecma_stream_frame_count(stream, QN_ECMA_ROUGHNESS, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 17, "ECMA-418-2 stream frame count");
        status = qn_ecma_stream_read(stream, QN_ECMA_ROUGHNESS, again, 17 * 53, &read);
        expect(status == QN_STATUS_SUCCESS && read == 17 && memcmp(rough, again, sizeof rough) == 0,
               "ECMA-418-2 stream read");
        qn_ecma_stream_destroy(stream);
    }

    {
        /* 70000 samples (1.46 s, just over the shortest signal) of a 1 kHz
         * tone of 60 dB SPL, fully modulated at 4 Hz: 73 frames of 53 bands
         * of ECMA-418-2 fluctuation strength, rising from 0; the same in
         * one pass of the hearing model. */
        static double am[70000];
        static double specific[73 * QN_ECMA_BANDS], again[73 * QN_ECMA_BANDS];
        uint64_t frames = 0;
        double peak = 0.0;
        for (i = 0; i < 70000; ++i)
            am[i] = 0.0231 * (1.0 + sin(6.283185307179586 * 4.0 * i / 48000.0)) *
                    sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_ecma_fluctuation_frame_count(70000, QN_SAMPLE_RATE, &frames);
        expect(status == QN_STATUS_SUCCESS && frames == 73, "ECMA-418-2 fluctuation frame count");
        status = qn_fluctuation_ecma(am, 70000, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, specific,
                                     73 * QN_ECMA_BANDS, &frames);
        for (i = 0; i < 73 * QN_ECMA_BANDS; ++i)
            if (specific[i] > peak) peak = specific[i];
        expect(status == QN_STATUS_SUCCESS && frames == 73 && specific[0] == 0.0 && peak > 0.0,
               "ECMA-418-2 fluctuation strength");
        status = qn_ecma_analysis_with_fluctuation(am, 70000, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, NULL, 0, NULL,
                                                   0, NULL, 0, again, 73 * QN_ECMA_BANDS);
        expect(status == QN_STATUS_SUCCESS && memcmp(specific, again, sizeof again) == 0,
               "ECMA-418-2 fluctuation strength in one pass");
    }

    {
        /* Loudness level, band levels and the sharpness weightings. */
        static double tone[9600];
        static double band_series[2 * QN_THIRD_OCTAVE_BANDS];
        double bands[QN_THIRD_OCTAVE_BANDS];
        double phon = 0.0, sharp = 0.0, din = 0.0;
        qn_band_level_meter *meter = NULL;
        uint64_t points = 0;
        for (i = 0; i < 9600; ++i) tone[i] = 0.02 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_loudness_level(2.0, &phon);
        expect(status == QN_STATUS_SUCCESS && phon > 49.99 && phon < 50.01, "loudness level");
        status = qn_band_level_point_count(9600, QN_SAMPLE_RATE, 4800, &points);
        expect(status == QN_STATUS_SUCCESS && points == 2, "band level point count");
        status = qn_band_levels(tone, 9600, QN_SAMPLE_RATE, 4800, bands, QN_THIRD_OCTAVE_BANDS, band_series,
                                2 * QN_THIRD_OCTAVE_BANDS, &points);
        expect(status == QN_STATUS_SUCCESS && points == 2 && bands[16] > 55.0 && bands[16] < 58.0, "band levels");
        status = qn_band_level_meter_create(QN_SAMPLE_RATE, 4800, &meter);
        expect(status == QN_STATUS_SUCCESS && meter != NULL, "band level meter create");
        status = qn_band_level_meter_point_count(meter, 9600, &points);
        expect(status == QN_STATUS_SUCCESS && points == 2, "band level meter point count");
        status = qn_band_level_meter_add(meter, tone, 9600, band_series, 2 * QN_THIRD_OCTAVE_BANDS, &points);
        expect(status == QN_STATUS_SUCCESS && points == 2, "band level meter add");
        status = qn_band_level_meter_levels(meter, bands, QN_THIRD_OCTAVE_BANDS);
        expect(status == QN_STATUS_SUCCESS && bands[16] > 55.0, "band level meter levels");
        qn_band_level_meter_destroy(meter);
        status = qn_loudness_stationary(tone, 9600, QN_SAMPLE_RATE, QN_SOUND_FIELD_FREE, &loudness, specific,
                                        QN_BARK_POINTS);
        expect(status == QN_STATUS_SUCCESS, "stationary loudness for sharpness");
        status = qn_sharpness(specific, QN_BARK_POINTS, QN_SHARPNESS_BISMARCK, &sharp);
        expect(status == QN_STATUS_SUCCESS && sharp > 0.0, "sharpness, von Bismarck");
        status = qn_sharpness(specific, QN_BARK_POINTS, QN_SHARPNESS_DIN, &sharp);
        expect(status == QN_STATUS_SUCCESS && qn_sharpness_din(specific, QN_BARK_POINTS, &din) == QN_STATUS_SUCCESS &&
                   sharp == din,
               "sharpness, DIN");
    }

    {
        /* 1 s of a 1 kHz sine of 1 Pa RMS: 93.98 dB, 99 points. */
        static double tone[48000];
        static double laf[99], las[99];
        double levels[QN_SOUND_LEVELS];
        qn_sound_level_meter *meter = NULL;
        uint64_t points = 0, first = 0, second = 0;
        for (i = 0; i < 48000; ++i) tone[i] = 1.4142135623730951 * sin(6.283185307179586 * 1000.0 * i / 48000.0);
        status = qn_sound_level_point_count(48000, QN_SAMPLE_RATE, &points);
        expect(status == QN_STATUS_SUCCESS && points == 99, "sound level point count");
        status = qn_sound_levels(tone, 48000, QN_SAMPLE_RATE, levels, QN_SOUND_LEVELS, laf, 99, las, 99, &points);
        expect(status == QN_STATUS_SUCCESS && points == 99 && fabs(levels[QN_LEVEL_LAEQ] - 93.98) < 0.01,
               "sound levels");
        status = qn_sound_level_meter_create(QN_SAMPLE_RATE, &meter);
        expect(status == QN_STATUS_SUCCESS && meter != NULL, "sound level meter create");
        status = qn_sound_level_meter_point_count(meter, 1000, &points);
        expect(status == QN_STATUS_SUCCESS && points == 2, "sound level meter point count");
        status = qn_sound_level_meter_add(meter, tone, 1000, laf, 99, NULL, 0, &first);
        expect(status == QN_STATUS_SUCCESS && first == 2, "sound level meter add");
        status = qn_sound_level_meter_add(meter, tone + 1000, 47000, laf + first, 99 - first, NULL, 0, &second);
        expect(status == QN_STATUS_SUCCESS && first + second == 99, "sound level meter add, second block");
        status = qn_sound_level_meter_levels(meter, levels, QN_SOUND_LEVELS);
        expect(status == QN_STATUS_SUCCESS && fabs(levels[QN_LEVEL_LCEQ] - 93.98) < 0.01, "sound level meter levels");
        qn_sound_level_meter_destroy(meter);
    }

    if (failures == 0) printf("header_c99: all exports answer from C99\n");
    return failures == 0 ? 0 : 1;
}
