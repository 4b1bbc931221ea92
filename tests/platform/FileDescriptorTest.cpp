// FileDescriptor: the one owner of a descriptor closes it exactly once.
#include "platform/FileDescriptor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

using namespace corvane;

namespace {

bool IsOpen(int descriptor)
{
    return ::fcntl(descriptor, F_GETFD) != -1;
}

int OpenNull()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

TEST(FileDescriptor, ClosesWhatItHoldsWhenItDies)
{
    int raw = -1;
    {
        const FileDescriptor file(OpenNull());
        raw = file.get();
        ASSERT_TRUE(file.valid());
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(FileDescriptor, AMoveHandsOverAndLeavesTheSourceEmpty)
{
    FileDescriptor first(OpenNull());
    const int raw = first.get();
    FileDescriptor second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), raw);
    FileDescriptor third;
    third = std::move(second);
    EXPECT_EQ(third.get(), raw);
    EXPECT_TRUE(IsOpen(raw));
    third = FileDescriptor();
    EXPECT_FALSE(IsOpen(raw));
}

TEST(FileDescriptor, ReleaseHandsTheDescriptorToTheCaller)
{
    int raw = -1;
    {
        FileDescriptor file(OpenNull());
        raw = file.release();
        EXPECT_FALSE(file.valid());
        EXPECT_EQ(file.get(), -1);
    }
    EXPECT_TRUE(IsOpen(raw));
    ::close(raw);
}

TEST(FileDescriptor, ResetClosesTheOldOneAndKeepsErrno)
{
    FileDescriptor file(OpenNull());
    const int old = file.get();
    const int replacement = OpenNull();
    errno = ENOSPC;
    file.reset(replacement);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(IsOpen(old));
    EXPECT_EQ(file.get(), replacement);
    file.reset();
    EXPECT_FALSE(IsOpen(replacement));
    EXPECT_FALSE(file.valid());
}
