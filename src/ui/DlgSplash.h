// CDlgSplash: the start-up picture, a borderless window centred on the screen and kept above the
// others. Created hidden; start-up shows it and closes it just over 2 seconds later. GUI thread.
#pragma once

#include <QWidget>

namespace corvane {

class CDlgSplash : public QWidget {
    Q_OBJECT
public:
    explicit CDlgSplash(QWidget* parent = nullptr);
    // Shows the window centred on the primary screen and paints it at once.
    void ShowCentred();
};

} // namespace corvane
