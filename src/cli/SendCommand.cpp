// corvane-cli send: the package to one of the targets that the desktop program's Send To menu
// offers (send/SendTargets.h), or into a folder; also the send after `update --send`.
#include "cli/Commands.h"

#include "platform/Settings.h"
#include "send/HandOver.h"
#include "send/SendTargets.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <string>
#include <vector>

namespace corvane {

namespace {

QString PackageToSend(const std::string& packagePath)
{
    const std::string path = packagePath.empty() ? LoadSettings().outputPath : packagePath;
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

bool CheckSendTarget(const std::string& target)
{
    SendToTarget picked;
    QString error;
    if (PickTarget(FindSendToTargets(SendToSources::FromEnvironment()),
            QString::fromStdString(target), picked, error))
        return true;
    PrintError(error.toStdString());
    return false;
}

int ListSendTargets()
{
    for (const QString& label : ListedLabels(FindSendToTargets(SendToSources::FromEnvironment())))
        std::printf("%s\n", label.toUtf8().constData());
    return EXIT_DONE;
}

int SendPackage(const std::string& target, const std::string& packagePath, std::FILE* report)
{
    const QString package = PackageToSend(packagePath);
    const QFileInfo packageInfo(package);
    if (package.isEmpty() || !packageInfo.isFile() || !packageInfo.isReadable()) {
        PrintError("there is no package to send at '" + package.toStdString()
            + "'; run 'corvane-cli update' first");
        return EXIT_FAILED;
    }
    SendToTarget picked;
    QString error;
    if (!PickTarget(FindSendToTargets(SendToSources::FromEnvironment()),
            QString::fromStdString(target), picked, error)) {
        PrintError(error.toStdString());
        return EXIT_FAILED;
    }
    const HandOverResult result = HandOver(picked, package, RunProgramToItsEnd);
    if (!result.sent) {
        PrintError(result.error.toStdString());
        return EXIT_FAILED;
    }
    if (report)
        std::fprintf(report, "%s\n", HandOverReport(picked, package, result).toUtf8().constData());
    return EXIT_DONE;
}

int SendAfterUpdate(
    int updateCode, const std::string& target, const std::string& packagePath, std::FILE* report)
{
    // A package written with some feeds failed is still the newest one: the phone gets it, and
    // the update's exit status stays unless the send fails.
    if (updateCode != EXIT_DONE && updateCode != EXIT_PARTLY_FAILED) {
        std::fprintf(stderr, "The package was not sent: the update did not write it.\n");
        return updateCode;
    }
    const int sent = SendPackage(target, packagePath, report);
    return sent == EXIT_DONE ? updateCode : sent;
}

int RunSend(CommandLine& arguments)
{
    arguments.Describe(
        "Hands the package to a target of the desktop program's Send To menu: a program of the\n"
        "SendTo folder, a removable volume, a storage of a phone or camera mounted over MTP or\n"
        "PTP (\"Acme Phone X1 \xe2\x80\x93 Internal shared storage\"), a KDE Connect device,\n"
        "Bluetooth. TARGET is a name as --list prints it (letter case aside, '-' for its dash),\n"
        "or a folder path. A copy is written under a temporary name and renamed when complete;\n"
        "where the device refuses the rename, the file is written under its own name and its\n"
        "size checked.");
    arguments.Flag("list", "print the targets, one a line, and send nothing");
    arguments.Option("package", "PATH", "send this file instead of \"Path\"/\"FeedFile\"");
    arguments.Optional("TARGET", "a name as --list prints it, or a folder path");
    arguments.Epilogue(
        "Where the package went is printed on standard output. A program target is waited for:\n"
        "kdeconnect-cli ends once the device has the file queued.\n"
        "Exit status: 0 the package was copied (or the program ended with status 0), 1 no "
        "package,\n"
        "an unknown target (the known ones are named) or a failed copy (the reason is named), 2 "
        "bad\n"
        "usage.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const bool list = arguments.Has("list");
    const std::optional<std::string> package = arguments.Value("package");
    const std::vector<std::string> rest = arguments.Positionals();
    if (list && (!rest.empty() || package))
        return arguments.UsageError("--list takes no target");
    if (!list && rest.size() != 1)
        return arguments.UsageError("send needs one TARGET (or --list)");
    if (package && package->empty())
        return arguments.UsageError("--package needs a file path");
    return list ? ListSendTargets()
                : SendPackage(rest.front(), package.value_or(std::string()), stdout);
}

} // namespace corvane
