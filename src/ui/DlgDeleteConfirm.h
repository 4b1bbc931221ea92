// CDlgDeleteConfirm: "The selected item or group will be deleted, continue?" with "Yes"
// (default, result 1) and "Cancel" (result 2). Modal; GUI thread.
#pragma once

#include <QDialog>

namespace corvane {

class CDlgDeleteConfirm : public QDialog {
    Q_OBJECT
public:
    explicit CDlgDeleteConfirm(QWidget* parent = nullptr);
};

} // namespace corvane
