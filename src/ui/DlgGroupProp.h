// CDlgGroupProp: "Group Properties", the title (initially "Group") and description of a group.
//
// The caller may set the members before RunDialog/exec and reads them after a result of 1
// (OK copies the fields into the members; Cancel does not). Members hold UTF-8. The dialog
// checks nothing. Modal; GUI thread.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

namespace corvane {

class CDlgGroupProp : public QDialog {
    Q_OBJECT
public:
    explicit CDlgGroupProp(QWidget* parent = nullptr);

    std::string title = "Group";
    std::string description;

    // saveAndValidate true: fields into members; false: members into fields.
    void UpdateData(bool saveAndValidate);

    QLineEdit* TitleEdit() const { return titleEdit; }
    QLineEdit* DescriptionEdit() const { return descriptionEdit; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* titleEdit; // edit 1004
    QLineEdit* descriptionEdit; // edit 1003
};

} // namespace corvane
