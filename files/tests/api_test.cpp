// The file layer's C interface as a host calls it.
#include <gtest/gtest.h>

#include "quarnelo_files.h"

TEST(FilesApi, Placeholder) { EXPECT_EQ(qnf_abi_version(), 1); }
