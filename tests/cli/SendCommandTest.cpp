// corvane-cli send and update --send, run as a separate process, with phones laid out as gvfs
// and a FUSE MTP program lay them out, and stand-ins for kdeconnect-cli and bluetooth-sendto.
#include "CliTestSupport.h"

#include <QDir>
#include <QString>

#include <sys/stat.h>

namespace {

const std::string kStorage = "Acme Phone X1 \u2013 Internal shared storage";

class SendCommandTest : public UpdateCliFixture {
protected:
    void SetUp() override
    {
        UpdateCliFixture::SetUp();
        phoneStorage = runtime + "/gvfs/mtp:host=Acme_Phone_X1_0123ABC/Internal shared storage";
        MakeFolder(phoneStorage);
        MakeFolder(temp.File("bin"));
        mounts = temp.Write("mounts", "/dev/sda1 / ext4 rw 0 0\n");
    }
    static void MakeFolder(const std::string& path)
    {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path))) << path;
    }
    // The package where "Path"/"FeedFile" has it by default.
    std::string WritePackage(const std::string& bytes = "PACKAGE BYTES")
    {
        return temp.Write("user/Documents/corvane.mrf", bytes);
    }
    void WriteProgram(const std::string& name, const std::string& script)
    {
        const std::string path = temp.Write("bin/" + name, "#!/bin/sh\n" + script);
        ::chmod(path.c_str(), 0755);
    }
    CliRun Send(const std::vector<std::string>& arguments)
    {
        CliRunOptions options;
        options.environment = {"PATH=" + temp.File("bin") + ":/usr/bin:/bin",
            "CORVANE_MOUNTS_FILE=" + mounts, "CORVANE_SENDTO_VOLUMES="};
        return RunCli(arguments, options);
    }
    std::string phoneStorage;
    std::string mounts;
};

TEST_F(SendCommandTest, ListPrintsWhatSendToOffersOneALine)
{
    MakeFolder(home + "/SendTo");
    temp.Write("home/SendTo/mail.desktop", "[Desktop Entry]\nName=Mail It\nExec=mailer %f\n");
    MakeFolder(temp.File("Tablet/SD card"));
    mounts = temp.Write("mounts",
        "jmtpfs " + temp.File("Tablet") + " fuse.jmtpfs rw,nosuid 0 0\n/dev/sda1 / ext4 rw 0 0\n");
    WriteProgram("kdeconnect-cli", "[ \"$1\" = --list-available ] && echo 'd1 Ann Phone'\n");
    WriteProgram("bluetooth-sendto", "exit 0\n");

    const CliRun list = Send({"send", "--list"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out,
        "Mail It\n" + kStorage
            + "\nTablet \u2013 SD card\nAnn Phone (KDE Connect)\nBluetooth Device...\n");
}

TEST_F(SendCommandTest, SendsThePackageOntoAPhoneStorage)
{
    WritePackage();
    const CliRun sent = Send({"send", kStorage});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(ReadWholeFile(phoneStorage + "/corvane.mrf"), "PACKAGE BYTES");
    EXPECT_EQ(
        sent.out, "Sent corvane.mrf to " + kStorage + " (" + phoneStorage + "/corvane.mrf).\n");

    // By a folder path, and a file given with --package.
    const std::string other = temp.Write("other.mrf", "OTHER");
    MakeFolder(temp.File("stick"));
    const CliRun folder = Send({"send", "--package", other, temp.File("stick")});
    EXPECT_EQ(folder.exitCode, 0) << folder.err;
    EXPECT_EQ(ReadWholeFile(temp.File("stick/other.mrf")), "OTHER");
    EXPECT_EQ(folder.out, "Sent other.mrf to " + temp.File("stick/other.mrf") + ".\n");
}

TEST_F(SendCommandTest, FailuresSayWhyAndEndWithStatusOne)
{
    const CliRun noPackage = Send({"send", kStorage});
    EXPECT_EQ(noPackage.exitCode, 1);
    EXPECT_NE(noPackage.err.find(temp.File("user/Documents/corvane.mrf")), std::string::npos)
        << noPackage.err;

    WritePackage();
    const CliRun unknown = Send({"send", "Pixel"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("'Pixel'"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("'" + kStorage + "'"), std::string::npos) << unknown.err;

    // A folder stands where the copy would go.
    MakeFolder(phoneStorage + "/corvane.mrf");
    const CliRun blocked = Send({"send", kStorage});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.err.find(phoneStorage + "/corvane.mrf: it is a folder"), std::string::npos)
        << blocked.err;
    EXPECT_TRUE(blocked.out.empty());

    EXPECT_EQ(Send({"send"}).exitCode, 2);
    EXPECT_EQ(Send({"send", "--list", kStorage}).exitCode, 2);
    EXPECT_EQ(Send({"send", "a", "b"}).exitCode, 2);
    EXPECT_EQ(Send({"send", "--bogus", kStorage}).exitCode, 2);
    const CliRun help = Send({"send", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--list"), std::string::npos);
}

TEST_F(SendCommandTest, AProgramTargetIsWaitedForAndItsStatusCounts)
{
    const std::string package = WritePackage();
    const std::string record = temp.File("record.txt");
    WriteProgram("kdeconnect-cli",
        "if [ \"$1\" = --list-available ]; then echo 'good Ann Phone'; echo 'bad Old Phone'; "
        "exit 0; fi\nprintf '%s ' \"$@\" > '"
            + record + "'\n[ \"$2\" = good ]\n");

    const CliRun handed = Send({"send", "Ann Phone (KDE Connect)"});
    EXPECT_EQ(handed.exitCode, 0) << handed.err;
    EXPECT_EQ(ReadWholeFile(record), "--device good --share " + package + " ");
    EXPECT_EQ(handed.out, "Handed corvane.mrf to Ann Phone (KDE Connect).\n");

    const CliRun refused = Send({"send", "old phone (kde connect)"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("exit status 1"), std::string::npos) << refused.err;
}

TEST_F(SendCommandTest, UpdateSendsTheWrittenPackage)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    CliRunOptions options;
    options.environment = {"CORVANE_MOUNTS_FILE=" + mounts, "CORVANE_SENDTO_VOLUMES="};

    const CliRun updated = RunCli({"update", "--output", Output(), "--send", kStorage}, options);
    EXPECT_EQ(updated.exitCode, 0) << updated.err;
    ASSERT_TRUE(FileExists(Output()));
    EXPECT_EQ(ReadWholeFile(phoneStorage + "/corvane.mrf"), ReadWholeFile(Output()));
    EXPECT_NE(updated.out.find("Sent corvane.mrf to " + kStorage), std::string::npos)
        << updated.out;

    // --quiet: nothing at all on success, the send included.
    ASSERT_EQ(::unlink((phoneStorage + "/corvane.mrf").c_str()), 0);
    const CliRun quiet
        = RunCli({"update", "--quiet", "--output", Output(), "--send", kStorage}, options);
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(ReadWholeFile(phoneStorage + "/corvane.mrf"), ReadWholeFile(Output()));

    // An unknown target is named before anything is fetched.
    const std::string before = ReadWholeFile(Output());
    const int hits = server.Hits("/good.rss");
    const CliRun unknown = RunCli({"update", "--output", Output(), "--send", "Pixel"}, options);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("'Pixel'"), std::string::npos) << unknown.err;
    EXPECT_EQ(server.Hits("/good.rss"), hits);

    // Without a written package nothing is sent.
    ASSERT_EQ(::unlink((phoneStorage + "/corvane.mrf").c_str()), 0);
    const CliRun failed
        = RunCli({"update", "--output", temp.File("no folder/p.mrf"), "--send", kStorage}, options);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("not sent"), std::string::npos) << failed.err;
    EXPECT_FALSE(FileExists(phoneStorage + "/p.mrf"));
    EXPECT_EQ(ReadWholeFile(Output()), before);

    // Nor when every feed failed and the previous package was kept.
    const CliRun offline = RunCli(
        {"update", "--feed", server.Url("/gone.rss"), "--output", Output(), "--send", kStorage},
        options);
    EXPECT_EQ(offline.exitCode, 1);
    EXPECT_FALSE(FileExists(phoneStorage + "/corvane.mrf"));
    EXPECT_EQ(ReadWholeFile(Output()), before);
}

} // namespace
