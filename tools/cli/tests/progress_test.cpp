// The progress line the tool draws on a terminal.
#include <gtest/gtest.h>

#include "progress.h"

namespace {

using namespace qcli;

TEST(CliProgress, LineShowsEachOpenFilesShare) {
    const struct {
        std::vector<file_progress> open;
        std::size_t done, files, width;
        std::string want;
    } cases[] = {
        {{{"dir/drive.wav", 48000, 96000, 48000}}, 0, 1, 80, "quarnelo: [############............]  50% drive.wav"},
        {{{"a.wav", 1, 4, 48000}, {"b\n.wav", 96000, 0, 48000}}, 3, 7, 80,
         "quarnelo: a.wav  25%, b?.wav 2 s; 3 of 7 files done"},
        {{}, 7, 7, 80, "quarnelo: 7 of 7 files done"},
        {{{"a-very-long-name.wav", 0, 10, 48000}}, 0, 1, 30, "quarnelo: [.................."},
    };
    for (const auto &c : cases) EXPECT_EQ(progress_text(c.open, c.done, c.files, c.width), c.want);
}

}  // namespace
