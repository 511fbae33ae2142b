/* A program outside the tree: links the installed file layer and analyses
 * a second of a 1 kHz tone held in memory. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <quarnelo_files.h>

int main(void) {
    static double x[48000];
    qnf_options *options = NULL;
    qnf_results *results = NULL;
    const char *name = NULL;
    double value = 0;
    char why[256];
    int i;
    for (i = 0; i < 48000; ++i) x[i] = 0.0283 * sin(2.0 * 3.141592653589793 * 1000.0 * i / 48000.0);
    if (qnf_options_create(&options) != QN_STATUS_SUCCESS ||
        qnf_options_set(options, "metrics", "loudness", why, sizeof why) != QN_STATUS_SUCCESS ||
        qnf_analyze_signal(x, 48000, 1, 48000, "tone", options, &results, why, sizeof why) != QN_STATUS_SUCCESS) {
        fprintf(stderr, "consumer_files: failed\n");
        return 1;
    }
    qnf_metric_value(qnf_channel_metric(qnf_file_channel(qnf_results_file(results, 0), 0), 0), 0, &name, &value,
                     NULL);
    if (strcmp(name, "loudness") != 0 || !(value > 3.5 && value < 4.5)) {
        fprintf(stderr, "consumer_files: %s %.17g\n", name, value);
        return 1;
    }
    printf("consumer_files: libquarnelo_files %s, 1 kHz at 60 dB: %.4f sone\n", qnf_version_string(), value);
    qnf_results_destroy(results);
    qnf_options_destroy(options);
    return 0;
}
