// Phones and cameras mounted by gvfs or a FUSE MTP program, laid out as those lay them out in
// temporary folders.
#include "send/PhoneMounts.h"
#include "send/SendTargets.h"

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

void MakeFolder(const std::string& path)
{
    ASSERT_TRUE(QDir().mkpath(Q(path))) << path;
}

QStringList Labels(const std::vector<SendToTarget>& targets)
{
    QStringList labels;
    for (const SendToTarget& target : targets)
        labels << target.label;
    return labels;
}

} // namespace

TEST(PhoneMounts, ReadsTheTypeAndHostOfAGvfsMountName)
{
    QString type, host;
    ASSERT_TRUE(ParseGvfsMountName("mtp:host=Acme_Phone_X1_0123ABC", type, host));
    EXPECT_EQ(type, "mtp");
    EXPECT_EQ(host, "Acme_Phone_X1_0123ABC");
    ASSERT_TRUE(ParseGvfsMountName("gphoto2:host=%5Busb%3A002%2C013%5D", type, host));
    EXPECT_EQ(type, "gphoto2");
    EXPECT_EQ(host, "[usb:002,013]");
    ASSERT_TRUE(ParseGvfsMountName("smb-share:server=nas,share=music,host=x", type, host));
    EXPECT_EQ(type, "smb-share");
    EXPECT_FALSE(ParseGvfsMountName("sftp:user=ann", type, host));
    EXPECT_FALSE(ParseGvfsMountName("no colon", type, host));
    EXPECT_FALSE(ParseGvfsMountName(":host=x", type, host));
}

TEST(PhoneMounts, NamesTheDeviceWithoutItsSerial)
{
    EXPECT_EQ(DeviceNameFromHost("mtp", "Acme_Phone_X1_0123ABC"), "Acme Phone X1");
    EXPECT_EQ(DeviceNameFromHost("mtp", "Acme_Phone_R5"), "Acme Phone");
    EXPECT_EQ(DeviceNameFromHost("mtp", "Acme_Tab"), "Acme Tab");
    EXPECT_EQ(DeviceNameFromHost("mtp", "Acme"), "Acme");
    EXPECT_EQ(DeviceNameFromHost("mtp", "[usb:002,013]"), "MTP Device (usb:002,013)");
    EXPECT_EQ(DeviceNameFromHost("gphoto2", "[usb:001,005]"), "PTP Device (usb:001,005)");
}

TEST(PhoneMounts, FindsTheMtpFuseMountsOfAMountsTable)
{
    const QByteArray table = "/dev/sda1 / ext4 rw,relatime 0 0\n"
                             "gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw,nosuid 0 0\n"
                             "jmtpfs /home/ann/Phone fuse.jmtpfs rw,nosuid,nodev 0 0\n"
                             "simple-mtpfs /home/ann/My\\040Phone fuse.simple-mtpfs rw 0 0\n"
                             "go-mtpfs /mnt/tab fuse rw 0 0\n"
                             "sshfs#ann@host: /mnt/remote fuse.sshfs rw 0 0\n"
                             "\n"
                             "broken-line\n";
    EXPECT_EQ(ParseMtpFuseMounts(table),
        std::vector<QString>({"/home/ann/Phone", "/home/ann/My Phone", "/mnt/tab"}));
    EXPECT_TRUE(IsMtpFileSystemType("fuse.aft-mtp-mount"));
    EXPECT_FALSE(IsMtpFileSystemType("fuse.gvfsd-fuse"));
    EXPECT_FALSE(IsMtpFileSystemType("vfat"));
}

TEST(PhoneMounts, ListsEveryStorageOfGvfsAndFuseDevices)
{
    TempDir runtime, fuse;
    const std::string gvfs = runtime.File("gvfs");
    MakeFolder(gvfs + "/mtp:host=Acme_Phone_X1_0123ABC/Internal shared storage");
    MakeFolder(gvfs + "/mtp:host=Acme_Phone_X1_0123ABC/SD card");
    MakeFolder(gvfs + "/gphoto2:host=Zeta_Camera_Z9_77/Card");
    MakeFolder(gvfs + "/mtp:host=Locked_Phone_L2_5/"); // no access allowed yet: no storage
    MakeFolder(gvfs + "/smb-share:server=nas,share=music/Albums");
    MakeFolder(fuse.File("Phone/Internal storage"));
    const std::string mounts = fuse.Write("mounts",
        "jmtpfs " + fuse.File("Phone") + " fuse.jmtpfs rw 0 0\n" + "jmtpfs " + fuse.File("gone")
            + " fuse.jmtpfs rw 0 0\n");

    std::vector<QString> labels;
    for (const PhoneStorage& storage : FindPhoneStorages(Q(gvfs), Q(mounts)))
        labels.push_back(PhoneStorageLabel(storage));
    EXPECT_EQ(labels,
        std::vector<QString>(
            {"Acme Phone X1 \u2013 Internal shared storage", "Acme Phone X1 \u2013 SD card",
                "Zeta Camera Z9 \u2013 Card", "Phone \u2013 Internal storage"}));
    const auto storages = FindPhoneStorages(Q(gvfs), QString());
    ASSERT_EQ(storages.size(), 3u);
    EXPECT_EQ(storages[1].folder, Q(gvfs + "/mtp:host=Acme_Phone_X1_0123ABC/SD card"));
    EXPECT_TRUE(FindPhoneStorages(Q(runtime.File("none")), Q(runtime.File("none"))).empty());
}

TEST(PhoneMounts, TwoPhonesOfOneModelKeepTheirSerials)
{
    TempDir runtime;
    MakeFolder(runtime.File("gvfs/mtp:host=Acme_Phone_X1_AAA111/Internal shared storage"));
    MakeFolder(runtime.File("gvfs/mtp:host=Acme_Phone_X1_BBB222/Internal shared storage"));
    QStringList labels;
    for (const PhoneStorage& storage : FindPhoneStorages(Q(runtime.File("gvfs")), QString()))
        labels << PhoneStorageLabel(storage);
    EXPECT_EQ(labels,
        QStringList({"Acme Phone X1 AAA111 \u2013 Internal shared storage",
            "Acme Phone X1 BBB222 \u2013 Internal shared storage"}));
}

TEST(PhoneMounts, SendToOffersTheStoragesAfterTheVolumesFromTheEnvironment)
{
    TempDir runtime, volume;
    MakeFolder(runtime.File("gvfs/mtp:host=Acme_Phone_X1_0123ABC/Internal shared storage"));
    MakeFolder(runtime.File("Tablet/Card"));
    const std::string mounts = runtime.Write(
        "mounts", "simple-mtpfs " + runtime.File("Tablet") + " fuse.simple-mtpfs rw 0 0\n");
    const ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.Path());
    const ScopedEnv table("CORVANE_MOUNTS_FILE", mounts);
    const ScopedEnv volumes("CORVANE_SENDTO_VOLUMES", volume.Path());
    const ScopedEnv path("PATH", runtime.File("no-programs"));

    SendToSources sources = SendToSources::FromEnvironment();
    EXPECT_EQ(sources.gvfsFolder, Q(runtime.File("gvfs")));
    EXPECT_EQ(sources.mountsFile, Q(mounts));
    sources.sendToFolder.clear();
    const auto targets = FindSendToTargets(sources);
    EXPECT_EQ(Labels(targets),
        QStringList({"Removable Disk (" + QDir(Q(volume.Path())).dirName() + ")",
            "Acme Phone X1 \u2013 Internal shared storage", "Tablet \u2013 Card", "Folder..."}));
    EXPECT_EQ(targets[1].kind, SendToTarget::Kind::Volume);
    EXPECT_EQ(targets[1].folder,
        Q(runtime.File("gvfs/mtp:host=Acme_Phone_X1_0123ABC/Internal shared storage")));
}
