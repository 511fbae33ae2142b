// The built-in sound of `quarnelo demo`.
#ifndef QUARNELO_CLI_DEMO_H
#define QUARNELO_CLI_DEMO_H

#include <string>
#include <vector>

namespace qcli {

struct demo_sound {
    std::string description;
    std::vector<double> samples;  // Pa at 48 kHz
};

// 3 s of a 1 kHz tone at 70 dB SPL, fully amplitude-modulated at 70 Hz, over
// pink noise at 50 dB SPL: loud, rough and a little sharp, so every metric
// has something to say.
demo_sound make_demo_sound();

}  // namespace qcli

#endif
