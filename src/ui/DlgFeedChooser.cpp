#include "ui/DlgFeedChooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

CDlgFeedChooser::CDlgFeedChooser(
    const std::string& address, const std::vector<AnnouncedFeed>& feeds, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Choose a Feed"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("%1 announces several feeds. Subscribe to:")
                                 .arg(QString::fromStdString(address)),
        this);
    label->setWordWrap(true);
    layout->addWidget(label);
    list = new QListWidget(this);
    for (const AnnouncedFeed& feed : feeds) {
        const QString url = QString::fromStdString(feed.url);
        list->addItem(feed.title.empty()
                ? url
                : QString::fromStdString(feed.title) + QStringLiteral("  ") + url);
    }
    list->setCurrentRow(0);
    label->setBuddy(list);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A double click picks the feed at once.
    connect(list, &QListWidget::itemActivated, this, &QDialog::accept);
}

int CDlgFeedChooser::Chosen() const
{
    return list->currentRow();
}

} // namespace corvane
