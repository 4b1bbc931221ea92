// Small packages for the reader's tests and the inspect and extract commands' tests.
#pragma once

#include "support/TempDir.h"
#include "update/Package.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace corvane;

inline std::string Le32(std::uint32_t value)
{
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
        static_cast<char>(value >> 24)};
}

inline std::string Record(const std::string& asciiName, std::uint32_t type, const std::string& data)
{
    std::string name;
    for (char c : asciiName) {
        name.push_back(c);
        name.push_back('\0');
    }
    return Le32(static_cast<std::uint32_t>(name.size())) + name + Le32(type)
        + Le32(static_cast<std::uint32_t>(data.size())) + data;
}

inline const std::string channels
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<opml version=\"1.0\"/>\r\n";
inline const std::string feed = "<rss version=\"2.0\"><channel/></rss>";
inline const std::string audio = std::string("ID3\x04\0\0", 6) + "frames";

// A package with the channel list and three records, written by the writer.
inline std::string WriteSamplePackage(const TempDir& dir)
{
    const std::string path = dir.File("sample.mrf");
    std::string error;
    auto package = CPackageFile::Create(path, error);
    EXPECT_TRUE(package) << error;
    WritePackageMagic(*package);
    WriteChannelsSection(*package, 1, dir.Write("Corvane.Cha", channels));
    WritePackageRecord(*package, "http://h/feed.rss", RECORD_FEED, dir.Write("f.xml", feed));
    WritePackageRecord(*package, "http://h/\xC3\xA9p.mp3", RECORD_MP3, dir.Write("a.mp3", audio));
    WritePackageRecord(*package, "http://h/e.amr", RECORD_AMR, dir.Write("e.amr", ""));
    EXPECT_TRUE(package->Commit()) << package->ErrorText();
    return path;
}
