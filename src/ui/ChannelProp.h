// CChannelProp: "Channel Properties", the title, XML URL, HTML URL and description of a feed,
// with "Auto Retrieve", which fills title, HTML URL and description from the feed itself.
//
// The caller may set the members before RunDialog/exec and reads them after a result of 1 (OK
// copies the fields into the members; Cancel does not). Members hold UTF-8. Modal; GUI thread.
// "Auto Retrieve" fetches synchronously on the GUI thread (under a wait cursor) into a private
// temporary file that is removed afterwards; failures are told through Prompts().Message.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;

namespace corvane {

class CChannelProp : public QDialog {
    Q_OBJECT
public:
    explicit CChannelProp(QWidget* parent = nullptr);

    std::string title;
    std::string xmlurl = "http://";
    std::string htmlurl = "http://";
    std::string description;

    // saveAndValidate true: fields into members; false: members into fields.
    void UpdateData(bool saveAndValidate);

    // The handler of "Auto Retrieve" (button 1015).
    void OnAutoRetrieve();

    // True when address is long enough (10 characters or more) and holds "http://" or
    // "https://" anywhere.
    static bool LooksLikeAddress(const std::string& address);

    QLineEdit* TitleEdit() const { return titleEdit; }
    QLineEdit* XmlUrlEdit() const { return xmlurlEdit; }
    QLineEdit* HtmlUrlEdit() const { return htmlurlEdit; }
    QLineEdit* DescriptionEdit() const { return descriptionEdit; }
    QPushButton* AutoRetrieveButton() const { return autoRetrieveButton; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* titleEdit; // edit 1001
    QLineEdit* xmlurlEdit; // edit 1002
    QLineEdit* htmlurlEdit; // edit 1003
    QLineEdit* descriptionEdit; // edit 1004
    QPushButton* autoRetrieveButton; // 1015
};

} // namespace corvane
