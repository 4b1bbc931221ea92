#include "ui/DlgGroupProp.h"

#include "ui/DialogUnits.h"

#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace corvane {

using namespace DialogUnits;

CDlgGroupProp::CDlgGroupProp(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Group Properties"));
    const CDialogUnits U = SetTemplateSize(this, 182, 105);
    titleEdit = new QLineEdit(this);
    titleEdit->setObjectName(QStringLiteral("edit1004"));
    titleEdit->setGeometry(U(60, 39, 115, 14));
    descriptionEdit = new QLineEdit(this);
    descriptionEdit->setObjectName(QStringLiteral("edit1003"));
    descriptionEdit->setGeometry(U(60, 58, 115, 14));
    // The template sets no length limit.
    titleEdit->setMaxLength(std::numeric_limits<int>::max());
    descriptionEdit->setMaxLength(std::numeric_limits<int>::max());
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(U(70, 84, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(U(125, 84, 50, 14));
    NameBy(AddLabel(this, QStringLiteral("Title"), U(35, 44, 14, 8), true), titleEdit);
    NameBy(AddLabel(this, QStringLiteral("Description"), U(15, 57, 36, 8), true), descriptionEdit);
    AddPicture(this, 166, U(7, 7, 167, 27), false);
    AddRule(this, U(7, 78, 168, 1));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    UpdateData(false);
}

void CDlgGroupProp::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        title = titleEdit->text().toStdString();
        description = descriptionEdit->text().toStdString();
    } else {
        titleEdit->setText(QString::fromStdString(title));
        descriptionEdit->setText(QString::fromStdString(description));
    }
}

void CDlgGroupProp::showEvent(QShowEvent* event)
{
    // Members set by the caller after construction reach the fields when the dialog opens.
    UpdateData(false);
    titleEdit->setFocus();
    QDialog::showEvent(event);
}

void CDlgGroupProp::accept()
{
    UpdateData(true);
    QDialog::accept();
}

} // namespace corvane
