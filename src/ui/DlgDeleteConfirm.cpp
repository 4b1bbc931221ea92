#include "ui/DlgDeleteConfirm.h"

#include "ui/DialogUnits.h"

#include <QPushButton>

namespace corvane {

using namespace DialogUnits;

CDlgDeleteConfirm::CDlgDeleteConfirm(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Warning"));
    const CDialogUnits U = SetTemplateSize(this, 266, 81);
    auto* yes = new QPushButton(QStringLiteral("Yes"), this);
    yes->setGeometry(U(155, 60, 50, 14));
    yes->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(U(209, 60, 50, 14));
    AddLabel(this, QStringLiteral("The selected item or group will be deleted, continue?"),
        U(82, 16, 169, 8));
    AddPicture(this, 164, U(7, 7, 62, 67), false);
    AddRule(this, U(80, 50, 179, 1));
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

} // namespace corvane
