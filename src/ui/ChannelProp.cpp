#include "ui/ChannelProp.h"

#include "net/WebAccess.h"
#include "subscriptions/FeedDiscovery.h"
#include "ui/DialogUnits.h"
#include "ui/DlgFeedChooser.h"
#include "ui/Prompts.h"

#include <QApplication>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

#include <limits>
#include <memory>

namespace corvane {

using namespace DialogUnits;

CChannelProp::CChannelProp(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Channel Properties"));
    const CDialogUnits U = SetTemplateSize(this, 275, 134);
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
    NameBy(AddLabel(this, QStringLiteral("Title"), U(97, 53, 14, 8), true), titleEdit);
    NameBy(AddLabel(this, QStringLiteral("HTML URL"), U(78, 69, 33, 8), true), htmlurlEdit);
    NameBy(AddLabel(this, QStringLiteral("XML URL"), U(83, 10, 28, 8), true), xmlurlEdit);
    NameBy(AddLabel(this, QStringLiteral("Description"), U(75, 85, 36, 8), true), descriptionEdit);
    AddPicture(this, 169, U(7, 7, 57, 119), true);
    AddRule(this, U(75, 105, 193, 1));
    autoRetrieveButton = new QPushButton(QStringLiteral("Auto Retrieve"), this);
    autoRetrieveButton->setGeometry(U(117, 28, 89, 14));
    autoRetrieveButton->setAutoDefault(false);
    autoRetrieveButton->setAccessibleDescription(
        QStringLiteral("Fills in title, HTML URL and description from the feed at the XML URL"));
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

// What the worker found: where the address led, or that the fetch was stopped.
struct CChannelProp::RetrieveOutcome {
    FeedProbe probe;
    bool stopped = false;
};

CChannelProp::~CChannelProp()
{
    StopRetrieve();
}

std::shared_ptr<CChannelProp::RetrieveOutcome> CChannelProp::Fetch(
    const std::string& address, bool findFeed, std::stop_token stop)
{
    auto outcome = std::make_shared<RetrieveOutcome>();
    // A website's address leads to the feed its page announces; an address picked from those
    // must be a feed itself.
    outcome->probe = findFeed ? FindFeed(address, std::nullopt, stop) : ProbeFeed(address, stop);
    outcome->stopped = stop.stop_requested();
    return outcome;
}

void CChannelProp::OnAutoRetrieve()
{
    // While a fetch runs the button is "Stop".
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
    fieldsAtRetrieve
        = {titleEdit->text(), htmlurlEdit->text(), descriptionEdit->text(), xmlurlEdit->text()};
    StartRetrieve(xmlurl, true);
}

void CChannelProp::StartRetrieve(const std::string& address, bool findFeed)
{
    // "Stop", not a second "Cancel": the dialog's own Cancel still stands beside it.
    autoRetrieveButton->setText(QStringLiteral("Stop"));
    setCursor(Qt::BusyCursor);
    const int generation = ++retrieveGeneration;
    // The fetch may take up to the stall time-out against a slow server; the dialog stays
    // responsive meanwhile. The outcome comes back queued to the GUI thread; a dialog that is
    // gone by then has stopped and joined the worker, and Qt drops the queued call.
    worker = std::jthread([this, address, findFeed, generation](std::stop_token stop) {
        auto outcome = Fetch(address, findFeed, stop);
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
    const FeedProbe& probe = outcome.probe;
    switch (probe.kind) {
    case FeedProbe::Kind::Feed:
        FillFields(probe);
        return;
    case FeedProbe::Kind::Page:
        ChooseAnnounced(address, probe.announced);
        return;
    case FeedProbe::Kind::NotAFeed:
        // The fields keep what they held: nothing here could fill them.
        Prompts().Message(this, QStringLiteral("Error"),
            QStringLiteral("%1 is not a feed: %2.")
                .arg(QString::fromStdString(address), QString::fromStdString(probe.reason)),
            QMessageBox::Warning);
        return;
    case FeedProbe::Kind::FetchFailed:
        break;
    }
    QString text = QString::fromStdString(FetchFailureText(probe.failedUrl));
    if (!probe.reason.empty())
        text += QStringLiteral("\n\n") + Capitalized(QString::fromStdString(probe.reason));
    Prompts().Message(this, QStringLiteral("Error"), text, QMessageBox::Warning);
}

void CChannelProp::ChooseAnnounced(
    const std::string& address, const std::vector<AnnouncedFeed>& announced)
{
    CDlgFeedChooser chooser(address, announced, this);
    if (Prompts().RunDialog(chooser) != 1)
        return;
    const int chosen = chooser.Chosen();
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= announced.size())
        return;
    StartRetrieve(announced[static_cast<std::size_t>(chosen)].url, false);
}

void CChannelProp::FillFields(const FeedProbe& probe)
{
    // The dialog answered while the fetch ran: a field the user changed meanwhile keeps what
    // was typed. XML URL takes the feed's address when a website's page led to another one.
    const struct {
        QLineEdit* edit;
        const QString& before;
        const std::string& value;
    } fields[] = {{titleEdit, fieldsAtRetrieve[0], probe.title},
        {htmlurlEdit, fieldsAtRetrieve[1], probe.link},
        {descriptionEdit, fieldsAtRetrieve[2], probe.description},
        {xmlurlEdit, fieldsAtRetrieve[3], probe.feedUrl}};
    for (const auto& field : fields) {
        const QString value = QString::fromStdString(field.value);
        if (field.edit->text() == field.before && field.edit->text() != value)
            field.edit->setText(value);
    }
    UpdateData(true);
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
    // Without an address the item would be stored as a group, which has no address, and come
    // back as an empty group at the next start.
    if (xmlurlEdit->text().trimmed().isEmpty()) {
        Prompts().Message(this, QStringLiteral("Error"),
            QStringLiteral("Please enter the feed's address (XML URL)."), QMessageBox::Warning);
        xmlurlEdit->setFocus();
        return;
    }
    StopRetrieve();
    UpdateData(true);
    QDialog::accept();
}

} // namespace corvane
