// CChannelProp: "Channel Properties", the title, XML URL, HTML URL and description of a feed,
// with "Auto Retrieve", which fills title, HTML URL and description from the feed itself.
//
// The caller may set the members before RunDialog/exec and reads them after a result of 1 (OK
// copies the fields into the members; Cancel does not). Members hold UTF-8. Modal; GUI thread.
// "Auto Retrieve" fetches on a worker thread, with the dialog responsive. A website's address
// leads to its feed (subscriptions/FeedDiscovery.h): the one its page announces, picked in
// "Choose a Feed" when it announces several, which then fills XML URL too; a document that is
// no feed is said so, and the fields keep what they held. While a fetch runs the button is
// "Stop", and Stop, Cancel, OK, closing the dialog or its end stop the fetch and join the
// worker. The fetch fills only the fields the user left as they were when it started. Failures
// are told through Prompts().Message, naming the address and the reason. OK refuses an empty
// XML URL.
#pragma once

#include "formats/HtmlFeedLinks.h"

#include <QDialog>

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

class QLineEdit;
class QPushButton;

namespace corvane {

class CChannelProp : public QDialog {
    Q_OBJECT
public:
    explicit CChannelProp(QWidget* parent = nullptr);
    ~CChannelProp() override;

    std::string title;
    std::string xmlurl = "http://";
    std::string htmlurl = "http://";
    std::string description;

    // Opens the feed's own choices (the "Feed Options..." button, shown only when this is set:
    // a feed that is already in the tree). Set before the dialog is shown.
    std::function<void()> onFeedOptions;

    // saveAndValidate true: fields into members; false: members into fields.
    void UpdateData(bool saveAndValidate);

    // The handler of "Auto Retrieve" (button 1015): starts the fetch, or stops a running one.
    void OnAutoRetrieve();
    // True from the start of a fetch until its outcome has been shown or it was stopped.
    bool Retrieving() const;

    // True when address is long enough (10 characters or more) and holds "http://" or
    // "https://" anywhere.
    static bool LooksLikeAddress(const std::string& address);

    QLineEdit* TitleEdit() const { return titleEdit; }
    QLineEdit* XmlUrlEdit() const { return xmlurlEdit; }
    QLineEdit* HtmlUrlEdit() const { return htmlurlEdit; }
    QLineEdit* DescriptionEdit() const { return descriptionEdit; }
    QPushButton* AutoRetrieveButton() const { return autoRetrieveButton; }
    QPushButton* FeedOptionsButton() const { return feedOptionsButton; }

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* titleEdit; // edit 1001
    QLineEdit* xmlurlEdit; // edit 1002
    QLineEdit* htmlurlEdit; // edit 1003
    QLineEdit* descriptionEdit; // edit 1004
    QPushButton* autoRetrieveButton; // 1015
    QPushButton* feedOptionsButton; // in the free room left of OK

    struct RetrieveOutcome;
    static std::shared_ptr<RetrieveOutcome> Fetch(
        const std::string& address, bool findFeed, std::stop_token stop);
    void StartRetrieve(const std::string& address, bool findFeed);
    void FinishRetrieve(const RetrieveOutcome& outcome, const std::string& address);
    // A page announced several feeds: the user picks one, which is then retrieved.
    void ChooseAnnounced(const std::string& address, const std::vector<AnnouncedFeed>& announced);
    void FillFields(const struct FeedProbe& probe);
    void StopRetrieve();

    int retrieveGeneration = 0; // which fetch a queued outcome belongs to
    std::array<QString, 4> fieldsAtRetrieve; // title, HTML URL, description, XML URL at the start
    std::jthread worker; // the running fetch; last, so it is stopped before the rest goes
};

} // namespace corvane
