// CDlgImportConfirm: "All current channels will be overwritten by imported ones, continue?" with
// "Yes" (default, result 1) and "Cancel" (result 2). Modal; GUI thread.
#pragma once

#include <QDialog>

namespace corvane {

class CDlgImportConfirm : public QDialog {
    Q_OBJECT
public:
    explicit CDlgImportConfirm(QWidget* parent = nullptr);
};

} // namespace corvane
