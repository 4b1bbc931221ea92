#include "platform/AtomicFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;

namespace {

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool IsLink(const std::string& path)
{
    struct stat status { };
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

mode_t Mode(const std::string& path)
{
    struct stat status { };
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

TEST(AtomicFile, NewFilesGetTheUsualModeAndReplacedFilesKeepTheirs)
{
    TempDir dir;
    const std::string path = dir.File("file.txt");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "first", error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "first");
    EXPECT_EQ(Mode(path), 0666 & ~CurrentUmask());

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "second", error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "second");
    EXPECT_EQ(Mode(path), 0640u);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string> {"file.txt"});

    // A private file's replacement is private from its first moment.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    AtomicFile file;
    ASSERT_TRUE(file.Open(path, error)) << error;
    EXPECT_EQ(Mode(file.TemporaryPath()), 0600u);
}

TEST(AtomicFile, ALinkStaysALinkAndItsTargetGetsTheBytes)
{
    TempDir dir;
    const std::string real = dir.Write("real/file.txt", "old");
    const std::string link = dir.File("link.txt");
    ASSERT_EQ(::symlink("real/file.txt", link.c_str()), 0);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(link, "new", error)) << error;
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(ReadWholeFile(real), "new");
    EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string> {"file.txt"});
}

TEST(AtomicFile, AChainOfLinksLeadsToTheLastTarget)
{
    TempDir dir;
    const std::string real = dir.Write("b/real.txt", "old");
    std::filesystem::create_directories(dir.File("a"));
    ASSERT_EQ(::symlink("../b/real.txt", dir.File("a/second").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("a/second").c_str(), dir.File("first").c_str()), 0);
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Open(dir.File("first"), error)) << error;
    EXPECT_EQ(file.TargetPath(), dir.File("a/../b/real.txt"));
    ASSERT_TRUE(file.Write("new", 3, error)) << error;
    ASSERT_TRUE(file.Commit(error)) << error;
    EXPECT_TRUE(IsLink(dir.File("first")));
    EXPECT_TRUE(IsLink(dir.File("a/second")));
    EXPECT_EQ(ReadWholeFile(real), "new");
}

TEST(AtomicFile, ADanglingLinkGetsItsFileCreated)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("real"));
    const std::string link = dir.File("link.txt");
    ASSERT_EQ(::symlink("real/not-yet.txt", link.c_str()), 0);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(link, "made", error)) << error;
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(ReadWholeFile(dir.File("real/not-yet.txt")), "made");
}

TEST(AtomicFile, TargetsThatAreNoRegularFilesAreRefusedByName)
{
    TempDir dir;
    std::string error;
    const std::string folder = dir.File("folder");
    std::filesystem::create_directories(folder + "/inside");
    EXPECT_FALSE(WriteFileAtomically(folder, "x", error));
    EXPECT_NE(error.find(folder), std::string::npos) << error;
    EXPECT_NE(error.find("it is a folder"), std::string::npos) << error;

    // Through a link too, and the message names both.
    ASSERT_EQ(::symlink("folder", dir.File("link").c_str()), 0);
    EXPECT_FALSE(WriteFileAtomically(dir.File("link"), "x", error));
    EXPECT_NE(error.find(dir.File("link")), std::string::npos) << error;
    EXPECT_NE(error.find("it is a folder"), std::string::npos) << error;

    // A FIFO would block a reader forever; it is refused without being opened.
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(WriteFileAtomically(dir.File("fifo"), "x", error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    ASSERT_EQ(::symlink("loop-b", dir.File("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", dir.File("loop-b").c_str()), 0);
    EXPECT_FALSE(WriteFileAtomically(dir.File("loop-a"), "x", error));
    EXPECT_NE(error.find(std::strerror(ELOOP)), std::string::npos) << error;

    EXPECT_FALSE(WriteFileAtomically(dir.File("no/such/folder/f"), "x", error));
    EXPECT_NE(error.find(dir.File("no/such/folder/f")), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
    EXPECT_FALSE(WriteFileAtomically("", "x", error));
    EXPECT_FALSE(WriteFileAtomically(dir.Path() + "/", "x", error));
    EXPECT_EQ(Entries(dir.File("folder")), std::vector<std::string> {"inside"});
}

TEST(AtomicFile, NothingReachesTheTargetBeforeCommit)
{
    TempDir dir;
    const std::string path = dir.Write("file.txt", "old");
    {
        AtomicFile file;
        std::string error;
        ASSERT_TRUE(file.Open(path, error)) << error;
        ASSERT_TRUE(file.Write("new", 3, error)) << error;
        EXPECT_EQ(ReadWholeFile(path), "old");
        EXPECT_EQ(Entries(dir.Path()).size(), 2u);
        const std::string prefix = dir.Path() + "/.file.txt-";
        EXPECT_EQ(file.TemporaryPath().size(), prefix.size() + 6);
        EXPECT_EQ(file.TemporaryPath().rfind(prefix, 0), 0u) << file.TemporaryPath();
    }
    EXPECT_EQ(ReadWholeFile(path), "old");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string> {"file.txt"});
}

TEST(AtomicFile, AStreamIsFlushedByCommit)
{
    TempDir dir;
    const std::string path = dir.File("file.txt");
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, ".short-", error)) << error;
    EXPECT_EQ(file.TemporaryPath().rfind(dir.Path() + "/.short-", 0), 0u) << file.TemporaryPath();
    std::FILE* stream = file.Stream(error);
    ASSERT_NE(stream, nullptr) << error;
    EXPECT_EQ(file.Stream(error), stream);
    std::fputs("buffered", stream);
    ASSERT_TRUE(file.Commit(error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "buffered");
}

// CommitUnlessUnchanged keeps a target that already holds the bytes (the same file, not a copy)
// and replaces it on any difference, also one of the same length past the first piece read.
TEST(AtomicFile, AnUnchangedTargetIsKeptAndAChangedOneReplaced)
{
    const std::string big(600 * 1024, 'x');
    const struct {
        const char* name;
        std::string before;
        std::string after;
        bool kept;
    } cases[] = {
        {"same bytes", big, big, true},
        {"same length, last byte differs", big, big.substr(0, big.size() - 1) + "y", false},
        {"longer", "abc", "abcd", false},
        {"empty both", "", "", true},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Write("file.bin", c.before);
        struct stat before { };
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        AtomicFile file;
        std::string error;
        ASSERT_TRUE(file.Open(path, error)) << error;
        std::FILE* stream = file.Stream(error);
        ASSERT_NE(stream, nullptr) << error;
        std::fwrite(c.after.data(), 1, c.after.size(), stream);
        ASSERT_TRUE(file.CommitUnlessUnchanged(error)) << c.name << ": " << error;
        struct stat after { };
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(file.KeptTarget(), c.kept) << c.name;
        EXPECT_EQ(after.st_ino == before.st_ino, c.kept) << c.name;
        EXPECT_TRUE(ReadWholeFile(path) == c.after) << c.name;
        EXPECT_EQ(Entries(dir.Path()), std::vector<std::string> {"file.bin"}) << c.name;
    }
}

TEST(AtomicFile, AFailedRenameLeavesNoTemporary)
{
    TempDir dir;
    const std::string path = dir.File("file.txt");
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, error)) << error;
    std::filesystem::create_directories(path + "/inside"); // took the name meanwhile
    EXPECT_FALSE(file.Commit(error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string> {"file.txt"});
}

TEST(AtomicFile, ANameNearTheLongestStillGetsATemporary)
{
    TempDir dir;
    const std::string path = dir.File(std::string(250, 'n'));
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "long", error)) << error;
    EXPECT_EQ(ReadWholeFile(path), "long");
    EXPECT_EQ(TemporaryPrefixFor(std::string(250, 'n')).size(), 249u);
}

// --- stale temporaries ------------------------------------------------------------------------

bool LockedByOthers(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0)
        ::close(fd);
    return locked;
}

TEST(StaleTemporaries, TheWritersLockKeepsALiveTemporary)
{
    TempDir dir;
    AtomicFile live;
    std::string error;
    ASSERT_TRUE(live.Open(dir.File("corvane.mrf"), error)) << error;
    EXPECT_TRUE(LockedByOthers(live.TemporaryPath()));
    const std::string stale = dir.Write(".corvane.mrf-Ab3dE9", "left by a killed job");

    EXPECT_EQ(RemoveStaleTemporariesOf(dir.File("corvane.mrf")), 1);
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(live.TemporaryPath()));
    ASSERT_TRUE(live.Write("x", 1, error)) << error;
    EXPECT_TRUE(live.Commit(error)) << error;
    EXPECT_EQ(ReadWholeFile(dir.File("corvane.mrf")), "x");
}

TEST(StaleTemporaries, OnlyTemporariesOfThatNameGo)
{
    TempDir dir;
    const std::vector<std::string> kept
        = {".corvane.mrf-old-Ab3dE9", ".corvane.mrf-abc", ".corvane.mrf-Ab3dE9x",
            ".corvane.mrf-Ab.dE9", ".other.mrf-Ab3dE9", "corvane.mrf", "corvane.mrf-Ab3dE9"};
    for (const std::string& name : kept)
        dir.Write(name, "keep");
    std::filesystem::create_directories(dir.File(".corvane.mrf-Folder"));
    dir.Write("elsewhere", "keep");
    ASSERT_EQ(::symlink("elsewhere", dir.File(".corvane.mrf-Linked").c_str()), 0);
    dir.Write(".corvane.mrf-zzzzzz", "stale");

    EXPECT_EQ(RemoveStaleTemporaries(dir.Path(), ".corvane.mrf-"), 1);
    for (const std::string& name : kept)
        EXPECT_TRUE(FileExists(dir.File(name))) << name;
    EXPECT_TRUE(std::filesystem::is_directory(dir.File(".corvane.mrf-Folder")));
    EXPECT_TRUE(IsLink(dir.File(".corvane.mrf-Linked")));
    EXPECT_EQ(ReadWholeFile(dir.File("elsewhere")), "keep");
    EXPECT_EQ(RemoveStaleTemporaries(dir.File("missing"), ".corvane.mrf-"), 0);
}

// A child process opens a temporary for path, reports it through the pipe and then either dies
// at once (as a killed job would, leaving it) or waits until the pipe is closed.
pid_t StartWriter(const std::string& path, bool waitForParent, int& fromChild, int& toChild)
{
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(up[0]);
        ::close(down[1]);
        auto* file = new AtomicFile; // never destroyed: the process dies with it
        std::string error;
        const char ready = file->Open(path, error) ? 'y' : 'n';
        (void)!::write(up[1], &ready, 1);
        char ignored;
        if (waitForParent)
            (void)!::read(down[0], &ignored, 1);
        ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    fromChild = up[0];
    toChild = down[1];
    return pid;
}

TEST(StaleTemporaries, ATemporaryOfADeadProcessGoesAndALiveOneStays)
{
    TempDir dir;
    const std::string path = dir.File("corvane.mrf");
    int fromChild = -1, toChild = -1;
    char ready = 0;

    const pid_t dead = StartWriter(path, false, fromChild, toChild);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(::read(fromChild, &ready, 1), 1);
    EXPECT_EQ(ready, 'y');
    ::waitpid(dead, nullptr, 0);
    ::close(fromChild);
    ::close(toChild);
    ASSERT_EQ(Entries(dir.Path()).size(), 1u); // left behind
    EXPECT_EQ(RemoveStaleTemporariesOf(path), 1);
    EXPECT_TRUE(Entries(dir.Path()).empty());

    const pid_t live = StartWriter(path, true, fromChild, toChild);
    ASSERT_GT(live, 0);
    ASSERT_EQ(::read(fromChild, &ready, 1), 1);
    EXPECT_EQ(ready, 'y');
    EXPECT_EQ(RemoveStaleTemporariesOf(path), 0);
    EXPECT_EQ(Entries(dir.Path()).size(), 1u);
    ::close(toChild); // the child ends
    ::waitpid(live, nullptr, 0);
    ::close(fromChild);
    EXPECT_EQ(RemoveStaleTemporariesOf(path), 1);
    EXPECT_TRUE(Entries(dir.Path()).empty());
}

} // namespace
