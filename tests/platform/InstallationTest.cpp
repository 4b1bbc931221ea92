#include "platform/Installation.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace corvane;

namespace {

// An installed layout under temp: prefix/bin for the programs, prefix/share/corvane/help for the
// help, and a program folder of the user's.
class HelpLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(temp.File("prefix/bin"));
        std::filesystem::create_directories(temp.File("home"));
    }

    std::string Bin() const { return temp.File("prefix/bin"); }
    std::string ProgramFolder() const { return temp.File("home") + "/"; }
    // Writes folder/index.html and gives its path as the lookup answers it: links resolved.
    std::string Page(const std::string& folder) const
    {
        std::filesystem::create_directories(temp.File(folder));
        const std::string page = temp.Write(folder + "/index.html", "<html></html>");
        return std::filesystem::weakly_canonical(page).string();
    }

    TempDir temp;
};

TEST_F(HelpLookup, FindsTheInstalledHelpFromTheExecutablesFolder)
{
    const std::string installed = Page("prefix/share/corvane/help");
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin()), installed);
}

TEST_F(HelpLookup, FindsTheCopyBesideAProgramOfTheBuildTree)
{
    const std::string beside = Page("prefix/bin/help");
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin()), beside);
}

TEST_F(HelpLookup, TheUsersOwnHelpComesFirst)
{
    Page("prefix/share/corvane/help");
    Page("prefix/bin/help");
    const std::string own = Page("home/help");
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin()), own);
}

TEST_F(HelpLookup, TheInstalledHelpComesBeforeABuildCopy)
{
    const std::string installed = Page("prefix/share/corvane/help");
    Page("prefix/bin/help");
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin()), installed);
}

TEST_F(HelpLookup, AnswersACleanPathWhateverTheExecutablesFolderLookedLike)
{
    const std::string installed = Page("prefix/share/corvane/help");
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin() + "/../bin/."), installed);
}

TEST_F(HelpLookup, EmptyWhenThereIsNoHelp)
{
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin()), "");
    // A folder named index.html is no page.
    std::filesystem::create_directories(temp.File("prefix/share/corvane/help/index.html"));
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), Bin()), "");
}

TEST_F(HelpLookup, WithoutAnExecutableFolderOnlyTheUsersHelpCounts)
{
    EXPECT_EQ(HelpIndexCandidates(ProgramFolder(), ""),
        std::vector<std::string> {ProgramFolder() + "help/index.html"});
    const std::string own = Page("home/help");
    EXPECT_EQ(FindHelpIndex(ProgramFolder(), ""), own);
}

TEST(Installation, TheExecutablesFolderIsThisTestsFolder)
{
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/test_platform"));
}

TEST(Installation, VersionIsDottedNumbers)
{
    const std::string version = ProgramVersion();
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos);
    EXPECT_NE(version.find('.'), std::string::npos);
}

} // namespace
