// CAboutDlg: the About box ("About Corvane", "Version 1.2"), modal, OK only. GUI thread.
#pragma once

#include <QDialog>

namespace corvane {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace corvane
