#include "cli_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numbers>

namespace cli_test {

fs::path scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("quarnelo-cli-test-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::string quoted(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string cli() { return quoted(QUARNELO_CLI); }

run_result run_command(const std::string &command_line) {
    const fs::path err = scratch() / "stderr.txt";
    const std::string command = "timeout 120 sh -c " + quoted(command_line) + " 2>" + quoted(err.string());
    run_result r;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = file_bytes(err);
    return r;
}

run_result run(const std::string &arguments) { return run_command(cli() + " " + arguments); }

std::vector<double> test_signal(int rate, int channels, double seconds) {
    const std::size_t frames = static_cast<std::size_t>(seconds * rate);
    std::vector<double> x(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double gain = 0.3 / (1 + c);
            x[i * channels + c] = gain * (0.5 * (1 + std::sin(2 * std::numbers::pi * 70 * t)) *
                                              std::sin(2 * std::numbers::pi * 1000 * t) +
                                          0.2 * std::sin(2 * std::numbers::pi * (3000 + 500 * c) * t));
        }
    }
    return x;
}

fs::path write_audio(const std::string &name, int format, int rate, int channels, const std::vector<double> &x) {
    const fs::path path = scratch() / name;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << name << ": " << sf_strerror(nullptr);
    if (f) {
        sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        sf_writef_double(f, x.data(), static_cast<sf_count_t>(x.size() / channels));
        sf_close(f);
    }
    return path;
}

std::string file_bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path write_bytes(const std::string &name, const std::string &bytes) {
    const fs::path path = scratch() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

}  // namespace cli_test
