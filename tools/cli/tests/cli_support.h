// Running the quarnelo tool as a user runs it, and writing the audio files
// it reads.
#ifndef QUARNELO_CLI_TESTS_CLI_SUPPORT_H
#define QUARNELO_CLI_TESTS_CLI_SUPPORT_H

#include <filesystem>
#include <string>
#include <vector>

namespace cli_test {

namespace fs = std::filesystem;

struct run_result {
    int status = -1;  // the exit status; -1 when killed by a signal
    std::string out, err;
};

// A directory of this test process for the files it writes.
fs::path scratch();

std::string quoted(const std::string &s);

// The tool's path, quoted for the shell.
std::string cli();

// Runs a shell command line (in which cli() names the tool) with a time
// limit of two minutes, so that a tool that hangs fails the test.
run_result run_command(const std::string &command_line);

// Runs the tool with these arguments.
run_result run(const std::string &arguments);

// A tone at 1 kHz modulated at 70 Hz plus a second tone, peak below full
// scale; channel c is shifted in level so channels differ. Interleaved.
std::vector<double> test_signal(int rate, int channels, double seconds);

// Writes interleaved samples in a libsndfile format (clipping to full scale).
fs::path write_audio(const std::string &name, int format, int rate, int channels, const std::vector<double> &x);

// The file's bytes, and writing bytes to a file of the scratch directory.
std::string file_bytes(const fs::path &path);
fs::path write_bytes(const std::string &name, const std::string &bytes);

}  // namespace cli_test

#endif
