// Running the built corvane-cli as a separate process against the loopback server, in the
// temporary home of UpdateFixture (the child inherits its environment).
#pragma once

#include "update/UpdateTestSupport.h"

#include "subscriptions/Subscriptions.h"

#include "support/CliRunner.h"

using namespace corvane;

// The last line of a text (a trailing line break ignored).
inline std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

// A temporary home with a channels file, and corvane-cli run in it.
class UpdateCliFixture : public UpdateFixture {
protected:
    // Writes the channels file with one feed per (title, address).
    void Subscribe(const std::vector<std::pair<std::string, std::string>>& feeds)
    {
        CSubscriptions subscriptions;
        subscriptions.Load();
        for (const auto& [title, url] : feeds)
            ASSERT_TRUE(subscriptions.NewFeed(subscriptions.Root(), title, url, "", "").changed);
    }
    int Cli(std::vector<std::string> arguments)
    {
        CliProcess process(std::move(arguments), temp.File("stderr"));
        return process.Wait();
    }
    std::string Stderr() const { return ReadWholeFile(temp.File("stderr")); }
};
