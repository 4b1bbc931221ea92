// InputFile: the one way readers open what a user names.
#include "platform/InputFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace corvane;

namespace {

// Everything left in file, read in pieces of three bytes.
std::string ReadRest(InputFile& file)
{
    std::string content;
    char piece[3];
    for (long got; (got = file.Read(piece, sizeof piece)) > 0;)
        content.append(piece, static_cast<std::size_t>(got));
    return content;
}

} // namespace

TEST(InputFile, ReadsARegularFileAlsoThroughASymbolicLink)
{
    TempDir folder;
    const std::string path = folder.Write("feed.xml", "<rss>\n</rss>");
    std::filesystem::create_symlink(path, folder.File("link.xml"));
    for (const std::string& name : {path, folder.File("link.xml")}) {
        InputFile file;
        std::string reason;
        ASSERT_TRUE(file.Open(name, reason)) << reason;
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(ReadRest(file), "<rss>\n</rss>");
        EXPECT_EQ(reason, "");
    }
}

TEST(InputFile, RefusesWhatIsNotARegularFileAndSaysWhatItIs)
{
    TempDir folder;
    std::filesystem::create_directory(folder.File("folder"));
    std::filesystem::create_directory_symlink(folder.File("folder"), folder.File("folder-link"));
    const std::string socketPath = folder.File("socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::pair<std::string, std::string> cases[] = {
        {folder.File("folder"), "not a regular file (a directory)"},
        {folder.File("folder-link"), "not a regular file (a directory)"},
        {"/dev/null", "not a regular file (a device)"},
        {socketPath, "not a regular file (a socket)"},
        {folder.File("missing"), "cannot open: No such file or directory"},
    };
    for (const auto& [path, expected] : cases) {
        InputFile file;
        std::string reason;
        EXPECT_FALSE(file.Open(path, reason)) << path;
        EXPECT_FALSE(file.IsOpen()) << path;
        EXPECT_EQ(reason, expected) << path;
    }
    ::close(listener);
}

TEST(InputFile, AFailedOpenClosesWhatWasOpenBefore)
{
    TempDir folder;
    InputFile file;
    std::string reason;
    ASSERT_TRUE(file.Open(folder.Write("a", "a"), reason));
    EXPECT_FALSE(file.Open(folder.Path(), reason));
    EXPECT_FALSE(file.IsOpen());

    ASSERT_TRUE(file.Open(folder.Write("b", "bb"), reason));
    InputFile moved(std::move(file));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadRest(moved), "bb");
}
