// Handing the package over: copies that a device's refused rename forces through the direct
// way, programs waited for, the target a name picks, and the report of where the package went.
#include "send/HandOver.h"
#include "send/PackageCopy.h"

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace corvane;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QStringList FilesIn(const std::string& folder)
{
    return QDir(Q(folder)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A device that refuses every rename, as MTP through gvfs often does.
CopySteps RefusingRename(int* calls = nullptr)
{
    CopySteps steps;
    steps.rename = [calls](const char*, const char*) {
        if (calls)
            ++*calls;
        errno = EOPNOTSUPP;
        return -1;
    };
    return steps;
}

std::string WriteExecutable(const TempDir& folder, const std::string& name, const std::string& text)
{
    const std::string path = folder.Write(name, text);
    chmod(path.c_str(), 0755);
    return path;
}

SendToTarget Target(SendToTarget::Kind kind, const QString& label, const QString& folder = {})
{
    SendToTarget target;
    target.kind = kind;
    target.label = label;
    target.folder = folder;
    return target;
}

} // namespace

TEST(PackageCopy, WithoutARenameWritesTheFinalNameAndReplacesTheOlderCopy)
{
    TempDir source, device;
    const std::string bytes(200000, 'p');
    const std::string package = source.Write("corvane.mrf", bytes);
    device.Write("corvane.mrf", "an older package");
    int renames = 0;
    QString destination;
    EXPECT_EQ(CopyFileInto(Q(package), Q(device.Path()), &destination, RefusingRename(&renames)),
        QString());
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(destination, Q(device.File("corvane.mrf")));
    EXPECT_EQ(ReadWholeFile(device.File("corvane.mrf")), bytes);
    EXPECT_EQ(FilesIn(device.Path()), QStringList({"corvane.mrf"}));
}

TEST(PackageCopy, AFailedDirectWriteNamesBothFailuresAndLeavesNoPartialFile)
{
    TempDir source, device;
    const std::string package = source.Write("corvane.mrf", "new");
    // The rename fails, and a folder then stands at the final name, which no write replaces.
    CopySteps steps;
    steps.rename = [](const char*, const char* to) {
        ::mkdir(to, 0755);
        errno = EXDEV;
        return -1;
    };
    const QString error = CopyFileInto(Q(package), Q(device.Path()), nullptr, steps);
    EXPECT_TRUE(error.startsWith("Cannot copy " + Q(package))) << error.toStdString();
    EXPECT_TRUE(error.contains("refuses a rename")) << error.toStdString();
    EXPECT_TRUE(error.contains(Q(device.File("corvane.mrf")))) << error.toStdString();
    EXPECT_TRUE(FilesIn(device.Path()).isEmpty());
}

TEST(PackageCopy, ACopyThatRenamesLeavesNoTemporary)
{
    TempDir source, device;
    const std::string package = source.Write("corvane.mrf", "PACKAGE");
    int renames = 0;
    CopySteps steps;
    steps.rename = [&renames](const char* from, const char* to) {
        ++renames;
        return ::rename(from, to);
    };
    EXPECT_EQ(CopyFileInto(Q(package), Q(device.Path()), nullptr, steps), QString());
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(ReadWholeFile(device.File("corvane.mrf")), "PACKAGE");
    EXPECT_EQ(FilesIn(device.Path()), QStringList({"corvane.mrf"}));
}

TEST(HandOver, CopiesIntoAVolumeOrAChosenFolderAndSaysWhere)
{
    TempDir source, phone, chosen;
    const std::string package = source.Write("corvane.mrf", "PACKAGE");
    const auto noProgram = [](const QString&, const QStringList&) { return QString("unused"); };

    const SendToTarget storage = Target(SendToTarget::Kind::Volume,
        "Acme Phone X1 \u2013 Internal shared storage", Q(phone.Path()));
    const HandOverResult copied = HandOver(storage, Q(package), noProgram);
    ASSERT_TRUE(copied.sent) << copied.error.toStdString();
    EXPECT_EQ(ReadWholeFile(phone.File("corvane.mrf")), "PACKAGE");
    EXPECT_EQ(HandOverReport(storage, Q(package), copied),
        "Sent corvane.mrf to Acme Phone X1 \u2013 Internal shared storage ("
            + Q(phone.File("corvane.mrf")) + ").");

    const SendToTarget chooser = Target(SendToTarget::Kind::ChooseFolder, "Folder...");
    const HandOverResult intoFolder = HandOver(chooser, Q(package), noProgram, Q(chosen.Path()));
    ASSERT_TRUE(intoFolder.sent);
    EXPECT_EQ(HandOverReport(chooser, Q(package), intoFolder),
        "Sent corvane.mrf to " + Q(chosen.File("corvane.mrf")) + ".");

    const HandOverResult failed
        = HandOver(Target(SendToTarget::Kind::Volume, "Gone", Q(phone.File("unplugged"))),
            Q(package), noProgram);
    EXPECT_FALSE(failed.sent);
    EXPECT_TRUE(failed.error.contains(Q(phone.File("unplugged/corvane.mrf"))))
        << failed.error.toStdString();
}

TEST(HandOver, RunsTheProgramWithThePackageAndWaitsForItsStatus)
{
    TempDir folder;
    const std::string package = folder.Write("corvane.mrf", "PACKAGE");
    const std::string record = folder.File("record.txt");
    SendToTarget target = Target(SendToTarget::Kind::Program, "Ann Phone (KDE Connect)");
    target.program = Q(WriteExecutable(folder, "kdeconnect-cli",
        "#!/bin/sh\nprintf '%s ' \"$@\" > '" + record + "'\n[ \"$2\" = good ]\n"));
    target.arguments = {"--device", "good", "--share", "%f"};

    const HandOverResult handed = HandOver(target, Q(package), RunProgramToItsEnd);
    ASSERT_TRUE(handed.sent) << handed.error.toStdString();
    EXPECT_EQ(ReadWholeFile(record), "--device good --share " + package + " ");
    EXPECT_EQ(HandOverReport(target, Q(package), handed),
        "Handed corvane.mrf to Ann Phone (KDE Connect).");

    target.arguments = {"--device", "bad", "--share", "%f"};
    const HandOverResult refused = HandOver(target, Q(package), RunProgramToItsEnd);
    EXPECT_FALSE(refused.sent);
    EXPECT_TRUE(refused.error.contains("exit status 1")) << refused.error.toStdString();

    target.program = Q(folder.File("no-such-program"));
    const HandOverResult missing = HandOver(target, Q(package), RunProgramToItsEnd);
    EXPECT_FALSE(missing.sent);
    EXPECT_TRUE(missing.error.contains("no-such-program")) << missing.error.toStdString();
}

TEST(HandOver, AProgramThatDoesNotEndIsStoppedAtTheTimeLimit)
{
    TempDir folder;
    const ScopedEnv limit("CORVANE_SEND_PROGRAM_TIMEOUT", "0.2");
    const std::string program
        = WriteExecutable(folder, "bluetooth-sendto", "#!/bin/sh\nexec sleep 30\n");
    const QString error = RunProgramToItsEnd(Q(program), {"x"});
    EXPECT_TRUE(error.contains("did not end in time")) << error.toStdString();
}

TEST(HandOver, PicksATargetByItsLabelOrAFolderPath)
{
    TempDir folder;
    const std::vector<SendToTarget> targets = {
        Target(SendToTarget::Kind::Volume, "Acme Phone X1 \u2013 SD card", "/phone/sd"),
        Target(SendToTarget::Kind::Program, "Bluetooth Device..."),
        Target(SendToTarget::Kind::Volume, "Twin", "/a"),
        Target(SendToTarget::Kind::Volume, "Twin", "/b"),
        Target(SendToTarget::Kind::ChooseFolder, "Folder..."),
    };
    SendToTarget picked;
    QString error;
    ASSERT_TRUE(PickTarget(targets, "Acme Phone X1 \u2013 SD card", picked, error));
    EXPECT_EQ(picked.folder, "/phone/sd");
    ASSERT_TRUE(PickTarget(targets, "acme phone x1 -  sd card", picked, error));
    EXPECT_EQ(picked.folder, "/phone/sd");
    ASSERT_TRUE(PickTarget(targets, "bluetooth device...", picked, error));
    EXPECT_EQ(picked.kind, SendToTarget::Kind::Program);
    ASSERT_TRUE(PickTarget(targets, Q(folder.Path()), picked, error));
    EXPECT_EQ(picked.kind, SendToTarget::Kind::Volume);
    EXPECT_EQ(picked.folder, Q(folder.Path()));

    EXPECT_FALSE(PickTarget(targets, "Twin", picked, error));
    EXPECT_TRUE(error.contains("more than one")) << error.toStdString();
    EXPECT_FALSE(PickTarget(targets, "Folder...", picked, error));
    EXPECT_FALSE(PickTarget(targets, "Pixel", picked, error));
    EXPECT_TRUE(error.contains("'Pixel'")) << error.toStdString();
    EXPECT_TRUE(error.contains("'Acme Phone X1 \u2013 SD card', 'Bluetooth Device...'"))
        << error.toStdString();
    EXPECT_FALSE(error.contains("Folder...")) << error.toStdString();
    EXPECT_EQ(ListedLabels(targets),
        QStringList({"Acme Phone X1 \u2013 SD card", "Bluetooth Device...", "Twin", "Twin"}));
}
