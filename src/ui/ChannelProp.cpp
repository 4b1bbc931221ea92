#include "ui/ChannelProp.h"

#include "formats/CorvaneDoc.h"
#include "net/WebAccess.h"
#include "platform/Paths.h"
#include "ui/DialogUnits.h"
#include "ui/Prompts.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QTemporaryDir>

#include <limits>
#include <memory>

namespace corvane {

using namespace DialogUnits;

namespace {

std::string Trimmed(const TextField& field)
{
    if (!field)
        return {};
    constexpr const char* kSpace = " \t\r\n\v\f";
    const std::string& text = *field;
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

} // namespace

CChannelProp::CChannelProp(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Channel Properties"));
    SetTemplateSize(this, 275, 134);
    auto addEdit = [this](const char* name, QRect rect) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setGeometry(rect);
        edit->setMaxLength(std::numeric_limits<int>::max()); // the template sets no limit
        return edit;
    };
    // Created in the template's order, which is also the tab order: Title comes first although
    // XML URL stands at the top.
    titleEdit = addEdit("edit1001", U(117, 50, 151, 14));
    xmlurlEdit = addEdit("edit1002", U(117, 7, 151, 14));
    htmlurlEdit = addEdit("edit1003", U(117, 66, 151, 14));
    descriptionEdit = addEdit("edit1004", U(117, 82, 151, 14));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(U(163, 113, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(U(218, 113, 50, 14));
    AddLabel(this, QStringLiteral("Title"), U(97, 53, 14, 8), true);
    AddLabel(this, QStringLiteral("HTML URL"), U(78, 69, 33, 8), true);
    AddLabel(this, QStringLiteral("XML URL"), U(83, 10, 28, 8), true);
    AddLabel(this, QStringLiteral("Description"), U(75, 85, 36, 8), true);
    AddPicture(this, 169, U(7, 7, 57, 119), true);
    AddRule(this, U(75, 105, 193, 1));
    autoRetrieveButton = new QPushButton(QStringLiteral("Auto Retrieve"), this);
    autoRetrieveButton->setGeometry(U(117, 28, 89, 14));
    autoRetrieveButton->setAutoDefault(false);
    // After every described control, so the tab order keeps theirs and ends here.
    feedOptionsButton = new QPushButton(QStringLiteral("Feed Options..."), this);
    feedOptionsButton->setObjectName(QStringLiteral("feedOptions"));
    feedOptionsButton->setGeometry(U(75, 113, 80, 14));
    feedOptionsButton->setAutoDefault(false);
    feedOptionsButton->hide();
    connect(feedOptionsButton, &QPushButton::clicked, this, [this] {
        if (onFeedOptions)
            onFeedOptions();
    });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(autoRetrieveButton, &QPushButton::clicked, this, &CChannelProp::OnAutoRetrieve);
    UpdateData(false);
}

void CChannelProp::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        title = titleEdit->text().toStdString();
        xmlurl = xmlurlEdit->text().toStdString();
        htmlurl = htmlurlEdit->text().toStdString();
        description = descriptionEdit->text().toStdString();
    } else {
        titleEdit->setText(QString::fromStdString(title));
        xmlurlEdit->setText(QString::fromStdString(xmlurl));
        htmlurlEdit->setText(QString::fromStdString(htmlurl));
        descriptionEdit->setText(QString::fromStdString(description));
    }
}

bool CChannelProp::LooksLikeAddress(const std::string& address)
{
    // The fetcher takes https as well, so an https address is as valid as an http one.
    return address.size() >= 10
        && (address.find("http://") != std::string::npos
            || address.find("https://") != std::string::npos);
}

// What the worker found: the fetch's result, the reason of a failure, the channel read.
struct CChannelProp::RetrieveOutcome {
    int result = WEB_ERR_REQUEST;
    std::string reason;
    std::unique_ptr<CFeedChannel> channel;
    bool stopped = false;
};

CChannelProp::~CChannelProp()
{
    StopRetrieve();
}

std::shared_ptr<CChannelProp::RetrieveOutcome> CChannelProp::Fetch(
    const std::string& address, std::stop_token stop)
{
    auto outcome = std::make_shared<RetrieveOutcome>();
    CWebAccess webAccess("Velmora RSS Reader");
    webAccess.SetStopToken(stop);
    // A private folder of our own: the download lands at a name that does not exist yet, so
    // the fetch is never a conditional request against an empty placeholder, and nobody else
    // can read or replace the file. The folder goes with everything in it.
    QTemporaryDir folder(
        QString::fromStdString(GetPrivateTempFolder()) + QStringLiteral("NEWXXXXXX"));
    if (!folder.isValid()) {
        outcome->reason = "no private temporary folder: " + folder.errorString().toStdString();
        return outcome;
    }
    const std::string path = QDir(folder.path()).filePath(QStringLiteral("feed.xml")).toStdString();
    outcome->result = webAccess.DownloadUrl(address, path);
    outcome->reason = webAccess.LastError();
    outcome->stopped = stop.stop_requested();
    if (outcome->result == WEB_OK && !outcome->stopped)
        CCorvaneDoc::ReadFeedFile(path, outcome->channel);
    return outcome;
}

void CChannelProp::OnAutoRetrieve()
{
    // While a fetch runs the button is "Cancel".
    if (Retrieving()) {
        StopRetrieve();
        return;
    }
    UpdateData(true);
    if (!LooksLikeAddress(xmlurl)) {
        Prompts().Message(this, QStringLiteral("Error"),
            QStringLiteral("Please enter a valid URL."), QMessageBox::Warning);
        return;
    }
    autoRetrieveButton->setText(QStringLiteral("Cancel"));
    setCursor(Qt::BusyCursor);
    const std::string address = xmlurl;
    const int generation = ++retrieveGeneration;
    // The fetch may take up to the stall time-out against a slow server; the dialog stays
    // responsive meanwhile. The outcome comes back queued to the GUI thread; a dialog that is
    // gone by then has stopped and joined the worker, and Qt drops the queued call.
    worker = std::jthread([this, address, generation](std::stop_token stop) {
        auto outcome = Fetch(address, stop);
        QMetaObject::invokeMethod(
            this,
            [this, outcome, address, generation] {
                if (generation == retrieveGeneration)
                    FinishRetrieve(*outcome, address);
            },
            Qt::QueuedConnection);
    });
}

bool CChannelProp::Retrieving() const
{
    return worker.joinable();
}

void CChannelProp::StopRetrieve()
{
    if (!worker.joinable())
        return;
    worker.request_stop();
    worker.join();
    // The worker's queued outcome may still arrive; it belongs to no fetch any more.
    ++retrieveGeneration;
    autoRetrieveButton->setText(QStringLiteral("Auto Retrieve"));
    unsetCursor();
}

void CChannelProp::FinishRetrieve(const RetrieveOutcome& outcome, const std::string& address)
{
    worker.join();
    autoRetrieveButton->setText(QStringLiteral("Auto Retrieve"));
    unsetCursor();
    if (outcome.stopped)
        return;
    if (outcome.result != WEB_OK) {
        QString text = QString::fromStdString(FetchFailureText(address));
        if (!outcome.reason.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(outcome.reason);
        Prompts().Message(this, QStringLiteral("Error"), text, QMessageBox::Warning);
        return;
    }
    if (!outcome.channel)
        return;
    title = Trimmed(outcome.channel->title);
    description = Trimmed(outcome.channel->description);
    htmlurl = Trimmed(outcome.channel->link);
    UpdateData(false);
}

void CChannelProp::reject()
{
    StopRetrieve();
    QDialog::reject();
}

void CChannelProp::showEvent(QShowEvent* event)
{
    UpdateData(false);
    feedOptionsButton->setVisible(static_cast<bool>(onFeedOptions));
    titleEdit->setFocus();
    QDialog::showEvent(event);
}

void CChannelProp::accept()
{
    StopRetrieve();
    UpdateData(true);
    QDialog::accept();
}

} // namespace corvane
