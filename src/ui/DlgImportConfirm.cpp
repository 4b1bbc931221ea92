#include "ui/DlgImportConfirm.h"

#include "ui/DialogUnits.h"

#include <QPushButton>

namespace corvane {

using namespace DialogUnits;

CDlgImportConfirm::CDlgImportConfirm(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Warning"));
    const CDialogUnits U = SetTemplateSize(this, 269, 81);
    auto* yes = new QPushButton(QStringLiteral("Yes"), this);
    yes->setGeometry(U(155, 60, 50, 14));
    yes->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(U(212, 60, 50, 14));
    AddLabel(this,
        QStringLiteral("All current channels will be overwritten by imported ones, continue?"),
        U(79, 14, 183, 20));
    AddPicture(this, 164, U(7, 7, 62, 67), false);
    AddRule(this, U(77, 47, 185, 1));
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

} // namespace corvane
