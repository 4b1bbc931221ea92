// CDlgFeedChooser: "Choose a Feed", the feeds a website's page announces, one to be picked. Shown
// by Channel Properties when Auto Retrieve meets a page that announces several feeds.
//
// Modal; GUI thread. Chosen() after a result of 1 is the picked feed's index in the list given.
#pragma once

#include "formats/HtmlFeedLinks.h"

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;

namespace corvane {

class CDlgFeedChooser : public QDialog {
    Q_OBJECT
public:
    CDlgFeedChooser(
        const std::string& address, const std::vector<AnnouncedFeed>& feeds, QWidget* parent);

    QListWidget* List() const { return list; }
    // The selected row, or -1 when none is.
    int Chosen() const;

private:
    QListWidget* list;
};

} // namespace corvane
