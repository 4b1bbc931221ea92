// The disk's sentence and how a full disk is told from other failures.
#include "platform/DiskFull.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace corvane;

TEST(DiskFull, OnlyAFullDiskOrASpentQuotaIsTheDisksFailure)
{
    const std::string full = std::strerror(ENOSPC);
    const std::string quota = std::strerror(EDQUOT);
    struct Case {
        std::string reason;
        bool diskFull;
    } cases[] = {
        {"cannot write the downloaded file: " + full, true},
        {"cannot write /p/.corvane.mrf-ab12cd: " + quota, true},
        {"the cache index was not saved: cannot write /h/data/x: " + full, true},
        {"HTTP status 503 after 4 attempts", false},
        {"cannot write /p/x: " + std::string(std::strerror(EFBIG)), false},
        {"cannot write /p/x: " + std::string(std::strerror(EACCES)), false},
        {"Connection refused", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsDiskFullReason(c.reason), c.diskFull) << c.reason;
    EXPECT_EQ(DiskFullText("/home/a/.local/share/Corvane/data/x.xml"),
        "The disk is full: /home/a/.local/share/Corvane/data/x.xml cannot be written. Free some "
        "space and try again.");
}
