// Phones and cameras mounted as files: the storages of MTP and PTP devices that a file manager
// or a FUSE file system has mounted, each a folder the package can be copied into.
//
// Where they are found:
//   - gvfs (GNOME and most other desktops): one folder per device in $XDG_RUNTIME_DIR/gvfs,
//     named by its mount spec, "mtp:host=Acme_Phone_X1_0123ABC" (gphoto2:host=... for a PTP
//     camera; values percent-escaped). The host is the device's USB vendor, model and serial
//     joined by '_' (older gvfs names the USB port instead: "[usb:002,013]").
//   - FUSE file systems of their own (jmtpfs, simple-mtpfs, go-mtpfs, mtpfs, aft-mtp-mount):
//     a line in /proc/self/mounts whose type is "fuse.<name>" with "mtp" in the name; the device
//     is known by its mount folder's name.
//   KDE's kio reaches a phone through its own mtp:/ addresses, which are no files: only when
//   kio-fuse has mounted one for a program does a local path exist, and that mount is made on
//   demand for a single address. It is not looked for.
// Each top folder of a device's mount is one of its storages ("Internal shared storage", "SD
// card"); a device that shows none (a phone that has not allowed access yet) offers nothing.
//
// Thread: any. Listing a storage reads the mount, which for a device can take a moment.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace corvane {

struct PhoneStorage {
    QString device; // "Acme Phone X1"
    QString storage; // "Internal shared storage"
    QString folder; // the storage's top folder, where the package goes
};

// Splits a gvfs mount folder's name into its type ("mtp", "gphoto2") and its host, percent-
// escapes decoded. False when the name is not "type:key=value[,key=value]..." with a host.
bool ParseGvfsMountName(const QString& name, QString& type, QString& host);

// The name a user knows the device by, from a gvfs host: "Acme_Phone_X1_0123ABC" gives
// "Acme Phone X1" (the last part, the serial, dropped when at least three parts are there),
// "[usb:002,013]" gives "MTP Device (usb:002,013)" ("PTP Device" for gphoto2).
QString DeviceNameFromHost(const QString& type, const QString& host);

// The mount folders of the MTP file systems in a mounts table (the format of /proc/self/mounts,
// octal escapes decoded), in table order.
std::vector<QString> ParseMtpFuseMounts(const QByteArray& mountsTable);

// True for a file system type that one of the FUSE MTP programs mounts ("fuse.jmtpfs").
bool IsMtpFileSystemType(const QString& type);

// Every storage of every device under gvfsFolder (devices by name) and of every MTP FUSE mount
// of the mounts table in mountsFile (either may be empty or missing: nothing from it). Storages
// of one device by name. Devices that share a name are told apart by their whole host.
std::vector<PhoneStorage> FindPhoneStorages(const QString& gvfsFolder, const QString& mountsFile);

// "Acme Phone X1 – Internal shared storage".
QString PhoneStorageLabel(const PhoneStorage& storage);

} // namespace corvane
