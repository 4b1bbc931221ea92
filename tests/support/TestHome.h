// A private home for one test: the program folder, the settings folder, the private temporary
// folder and the user's home all point into a fresh TempDir while the test runs.
#pragma once

#include "support/TempDir.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

class TestHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = temp.File("home");
        config = temp.File("config");
        runtime = temp.File("run");
        std::filesystem::create_directories(temp.File("user/Documents"));
        mkdir(runtime.c_str(), 0700);
        Keep("CORVANE_HOME", home);
        Keep("XDG_CONFIG_HOME", config);
        Keep("XDG_RUNTIME_DIR", runtime);
        Keep("TMPDIR", temp.Path());
        Keep("HOME", temp.File("user"));
        Keep("XDG_DATA_HOME", temp.File("data"));
    }

    void TearDown() override
    {
        for (auto& [name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    std::string ChannelsPath() const { return home + "/Corvane.Cha"; }
    // The backups of the program folder home: each program folder has a folder of its own,
    // named from a digest of its path, in the private temporary folder.
    std::string BackupFolder(const std::string& programFolder) const
    {
        const QByteArray digest = QCryptographicHash::hash(
            QByteArray::fromStdString(std::filesystem::weakly_canonical(programFolder).string()),
            QCryptographicHash::Sha256);
        return runtime + "/corvane/backups-" + digest.toHex().left(16).toStdString();
    }
    std::string BackupFile(int number) const
    {
        char name[32];
        std::snprintf(name, sizeof name, "/rchnlbak%03d.cbf", number);
        return BackupFolder(home) + name;
    }
    // The program folder is one of its own, so it keeps its own settings file.
    std::string SettingsPath() const { return home + "/Corvane.conf"; }

    TempDir temp;
    std::string home, config, runtime;

private:
    void Keep(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};
