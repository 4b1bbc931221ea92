#include "ui/DlgMoreOptions.h"

#include "ui/DialogUnits.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

namespace corvane {

using namespace DialogUnits;

namespace {

constexpr int kNewestMaximum = 1000;

} // namespace

CDlgMoreOptions::CDlgMoreOptions(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("More Options"));
    const CDialogUnits U = SetTemplateSize(this, 204, 86);
    newestSpin = new QSpinBox(this);
    newestSpin->setGeometry(U(151, 7, 46, 14));
    newestSpin->setRange(0, kNewestMaximum);
    // The label stands before the spin box and grows to the left should the font need it.
    newestLabel = AddLabel(this, tr("Newest episodes per feed (0 = all):"), U(7, 10, 140, 8), true);
    NameBy(newestLabel, newestSpin);
    anyMp3TypeCheck = new QCheckBox(tr("Any MP3 type (audio/mp3, audio/x-mpeg...)"), this);
    anyMp3TypeCheck->setGeometry(U(7, 25, 190, 10));
    noteLabel = AddLabel(this,
        tr("With \"Download The First Item Only\" set, only the first item of each feed is "
           "taken."),
        U(7, 42, 190, 16));
    okButton = new QPushButton(tr("OK"), this);
    okButton->setGeometry(U(93, 65, 50, 14));
    okButton->setDefault(true);
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setGeometry(U(147, 65, 50, 14));
    connect(okButton, &QPushButton::clicked, this, &CDlgMoreOptions::accept);
    connect(cancelButton, &QPushButton::clicked, this, &CDlgMoreOptions::reject);
    newestSpin->setFocus();
}

void CDlgMoreOptions::SetNewest(int newest)
{
    newestSpin->setValue(std::clamp(newest, 0, kNewestMaximum));
    newestSpin->selectAll();
}

int CDlgMoreOptions::Newest() const
{
    return newestSpin->value();
}

void CDlgMoreOptions::SetValues(const MoreOptionsValues& values)
{
    SetNewest(values.newest);
    anyMp3TypeCheck->setChecked(values.anyMp3Type != 0);
}

MoreOptionsValues CDlgMoreOptions::Values() const
{
    return {Newest(), anyMp3TypeCheck->isChecked() ? 1 : 0};
}

void CDlgMoreOptions::accept()
{
    // A number typed but not yet confirmed in the field counts, as the user sees it.
    newestSpin->interpretText();
    QDialog::accept();
}

} // namespace corvane
