// The Send To targets and the copy, without a window.
#include "send/SendTargets.h"
#include "send/PackageCopy.h"

#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string WriteExecutable(const TempDir& folder, const std::string& name, const std::string& text)
{
    const std::string path = folder.Write(name, text);
    chmod(path.c_str(), 0755);
    return path;
}

QStringList Labels(const std::vector<SendToTarget>& targets)
{
    QStringList labels;
    for (const SendToTarget& target : targets)
        labels << target.label;
    return labels;
}

} // namespace

TEST(SendToExec, SplitsByTheQuotingRulesOfDesktopEntries)
{
    QStringList arguments;
    ASSERT_TRUE(SplitExecLine("prog  --flag %f", arguments));
    EXPECT_EQ(arguments, QStringList({"prog", "--flag", "%f"}));
    ASSERT_TRUE(SplitExecLine(R"("/opt/my tools/send" "a \"b\" \\c" %f)", arguments));
    EXPECT_EQ(arguments, QStringList({"/opt/my tools/send", R"(a "b" \c)", "%f"}));
    ASSERT_TRUE(SplitExecLine(R"(prog "")", arguments));
    EXPECT_EQ(arguments, QStringList({"prog", ""}));
    EXPECT_FALSE(SplitExecLine(R"(prog "unterminated %f)", arguments));
}

TEST(SendToExec, ExpandsFieldCodesWithoutAShell)
{
    const QString file = "/home/u/My Documents/corvane.mrf";
    EXPECT_EQ(ExpandFieldCodes({"--to", "%f"}, file, "Phone"), QStringList({"--to", file}));
    EXPECT_EQ(ExpandFieldCodes({"%F"}, file, "Phone"), QStringList({file}));
    EXPECT_EQ(ExpandFieldCodes({"%U"}, file, "Phone"),
        QStringList({"file:///home/u/My%20Documents/corvane.mrf"}));
    EXPECT_EQ(ExpandFieldCodes({"--file=%f", "100%%", "%c"}, file, "Phone"),
        QStringList({"--file=" + file, "100%", "Phone"}));
    // Dropped codes vanish with their argument; without a file code the file goes last.
    EXPECT_EQ(ExpandFieldCodes({"%i", "-x", "%k"}, file, "Phone"), QStringList({"-x", file}));
    // A path full of shell syntax stays one argument, untouched.
    const QString nasty = "/tmp/a; rm -rf ~ $(x) `y`.mrf";
    EXPECT_EQ(ExpandFieldCodes({"%f"}, nasty, "Phone"), QStringList({nasty}));
}

TEST(SendToEntries, ReadsApplicationEntriesAndSkipsTheRest)
{
    TempDir folder;
    SendToTarget target;
    ASSERT_TRUE(ReadDesktopEntry(Q(folder.Write("phone.desktop",
                                     "# comment\n[Desktop Entry]\nType=Application\n"
                                     "Name=My Phone\nName[de]=Mein Telefon\n"
                                     "Exec=\"/opt/s s/send\" --to phone %f\n"
                                     "[Desktop Action other]\nExec=wrong\n")),
        target));
    EXPECT_EQ(target.kind, SendToTarget::Kind::Program);
    EXPECT_EQ(target.label, "My Phone");
    EXPECT_EQ(target.program, "/opt/s s/send");
    EXPECT_EQ(target.arguments, QStringList({"--to", "phone", "%f"}));

    EXPECT_FALSE(ReadDesktopEntry(
        Q(folder.Write("hidden.desktop", "[Desktop Entry]\nName=H\nExec=h %f\nHidden=true\n")),
        target));
    EXPECT_FALSE(ReadDesktopEntry(
        Q(folder.Write("link.desktop", "[Desktop Entry]\nType=Link\nName=L\nExec=l\n")), target));
    EXPECT_FALSE(
        ReadDesktopEntry(Q(folder.Write("noexec.desktop", "[Desktop Entry]\nName=N\n")), target));
    EXPECT_FALSE(ReadDesktopEntry(
        Q(folder.Write("quote.desktop", "[Desktop Entry]\nName=Q\nExec=\"q %f\n")), target));
    EXPECT_FALSE(ReadDesktopEntry(Q(folder.File("missing.desktop")), target));
    EXPECT_EQ(target.label, "My Phone");
}

TEST(SendToEntries, ParsesKdeConnectDeviceLines)
{
    const auto devices = ParseKdeConnectDevices("abc123 Pixel of Ann\n\n  def456 Tablet  \nxyz\n");
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0], std::make_pair(QString("abc123"), QString("Pixel of Ann")));
    EXPECT_EQ(devices[1], std::make_pair(QString("def456"), QString("Tablet")));
    EXPECT_EQ(devices[2], std::make_pair(QString("xyz"), QString("xyz")));
}

TEST(SendToTargets, ListsEntriesThenVolumesThenDevicesAndFolderLast)
{
    TempDir home;
    QDir().mkpath(Q(home.File("SendTo")));
    home.Write("SendTo/b.desktop", "[Desktop Entry]\nName=Zeta Phone\nExec=z %f\n");
    home.Write("SendTo/a.desktop", "[Desktop Entry]\nName=Alpha Phone\nExec=a %f\n");
    home.Write("SendTo/readme.txt", "not an entry");
    QDir().mkpath(Q(home.File("USBSTICK")));

    // A fake kdeconnect-cli that lists one device.
    const std::string cli = WriteExecutable(home, "kdeconnect-cli",
        "#!/bin/sh\n[ \"$1\" = --list-available ] && echo 'd1 Ann Phone'\n");

    SendToSources sources;
    sources.sendToFolder = Q(home.File("SendTo"));
    sources.volumeFolders = {Q(home.File("USBSTICK")), Q(home.File("not-mounted"))};
    sources.kdeConnectCli = Q(cli);
    sources.bluetoothSendTo = "/usr/bin/bluetooth-sendto";
    const auto targets = FindSendToTargets(sources);
    EXPECT_EQ(Labels(targets),
        QStringList({"Alpha Phone", "Zeta Phone", "Removable Disk (USBSTICK)",
            "Ann Phone (KDE Connect)", "Bluetooth Device...", "Folder..."}));
    EXPECT_EQ(targets[2].kind, SendToTarget::Kind::Volume);
    EXPECT_EQ(targets[3].arguments, QStringList({"--device", "d1", "--share", "%f"}));
    EXPECT_EQ(targets.back().kind, SendToTarget::Kind::ChooseFolder);

    EXPECT_EQ(Labels(FindSendToTargets(SendToSources {})), QStringList({"Folder..."}));
}

TEST(SendToTargets, VolumesComeFromTheEnvironmentWhenGiven)
{
    TempDir a, b;
    const std::string list = a.Path() + ":" + b.Path();
    setenv("CORVANE_SENDTO_VOLUMES", list.c_str(), 1);
    const SendToSources sources = SendToSources::FromEnvironment();
    unsetenv("CORVANE_SENDTO_VOLUMES");
    EXPECT_EQ(sources.volumeFolders, QStringList({Q(a.Path()), Q(b.Path())}));
}

TEST(SendToCopy, CopiesThroughATemporaryAndReplacesAnOlderCopy)
{
    TempDir source, volume;
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    const std::string package = source.Write("corvane.mrf", bytes);
    volume.Write("corvane.mrf", "an older package");

    EXPECT_EQ(CopyFileInto(Q(package), Q(volume.Path())), QString());
    EXPECT_EQ(ReadWholeFile(volume.File("corvane.mrf")), bytes);
    EXPECT_EQ(
        QDir(Q(volume.Path())).entryList(QDir::Files | QDir::Hidden), QStringList({"corvane.mrf"}));
}

TEST(SendToCopy, ClearsTheTemporaryAKilledCopyLeftAndRefusesAFifo)
{
    TempDir source, volume;
    const std::string package = source.Write("corvane.mrf", "new");
    volume.Write(".corvane.mrf-a1b2c3", "half of a package");
    EXPECT_EQ(CopyFileInto(Q(package), Q(volume.Path())), QString());
    EXPECT_EQ(
        QDir(Q(volume.Path())).entryList(QDir::Files | QDir::Hidden), QStringList({"corvane.mrf"}));

    const std::string fifo = source.File("fifo.mrf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const QString error = CopyFileInto(Q(fifo), Q(volume.Path()));
    EXPECT_TRUE(error.contains("not a regular file")) << error.toStdString();
}

TEST(SendToCopy, CopyOntoItselfKeepsThePackage)
{
    TempDir folder;
    const std::string package = folder.Write("corvane.mrf", "the only copy");
    EXPECT_EQ(CopyFileInto(Q(package), Q(folder.Path())), QString());
    EXPECT_EQ(ReadWholeFile(package), "the only copy");
}

TEST(SendToCopy, ReportsAFolderThatCannotBeWritten)
{
    TempDir source, volume;
    const std::string package = source.Write("corvane.mrf", "new");
    const QString missing = Q(volume.File("gone"));
    const QString error = CopyFileInto(Q(package), missing);
    EXPECT_TRUE(error.contains(missing + "/corvane.mrf")) << error.toStdString();

    if (geteuid() != 0) { // permissions do not bind root
        volume.Write("corvane.mrf", "old");
        chmod(volume.Path().c_str(), 0555);
        EXPECT_FALSE(CopyFileInto(Q(package), Q(volume.Path())).isEmpty());
        chmod(volume.Path().c_str(), 0755);
        EXPECT_EQ(ReadWholeFile(volume.File("corvane.mrf")), "old");
    }
}
