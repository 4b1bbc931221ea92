#include "ui/AboutDlg.h"

#include "ui/DialogUnits.h"

#include <QPushButton>

namespace corvane {

using namespace DialogUnits;

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Corvane"));
    const CDialogUnits U = SetTemplateSize(this, 246, 110);
    AddPicture(this, 163, U(7, 7, 51, 97), true);
    AddLabel(this, QStringLiteral("Corvane "), U(69, 7, 157, 8));
    AddLabel(this, QStringLiteral("Version 1.2"), U(69, 20, 157, 8));
    AddRule(this, U(67, 81, 172, 1));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(U(189, 87, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace corvane
