// Runs a fuzz target over every file of its corpus directories (or over
// single files), without libFuzzer: the committed corpus becomes an ordinary
// test under the sanitizers. It prints the outcomes the corpus reached and
// fails when the target expects one the corpus misses.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "outcomes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

static void run_file(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char **argv) {
    std::size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    run_file(entry.path());
                    ++runs;
                }
            }
        } else {
            run_file(path);
            ++runs;
        }
    }
    // An empty input too: every target must cope with it.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %zu inputs\n", runs + 1);
    const bool complete = qn_fuzz_report_outcomes();
    return runs > 0 && complete ? 0 : 1;
}
