// Result: a value or a message, never both.
#include "platform/Result.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane;

TEST(Result, HoldsTheValueOfASuccess)
{
    Result<std::string> found(std::string("/home/a/x.conf"));
    ASSERT_TRUE(found.Ok());
    EXPECT_TRUE(static_cast<bool>(found));
    EXPECT_EQ(found.Value(), "/home/a/x.conf");
    EXPECT_TRUE(found.Error().empty());
}

TEST(Result, HoldsTheMessageOfAFailure)
{
    const auto failed = Result<int>::Failure("cannot read /x: no such file");
    EXPECT_FALSE(failed.Ok());
    EXPECT_EQ(failed.Error(), "cannot read /x: no such file");
    const auto none = Result<void>::Failure("cannot write /y: disk full");
    EXPECT_FALSE(none.Ok());
    EXPECT_EQ(none.Error(), "cannot write /y: disk full");
    EXPECT_TRUE(Result<void>().Ok());
}
