#include "ui/DlgFeedOptions.h"

#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

namespace corvane {

using namespace DialogUnits;

namespace {

const QString kGlobal = QStringLiteral("As the global setting");

QComboBox* AddCombo(QWidget* dialog, const char* name, QRect rect, const QStringList& items)
{
    auto* combo = new QComboBox(dialog);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setGeometry(rect);
    combo->addItems(items);
    return combo;
}

QString SizeText(const EpisodeRow& row)
{
    if (!row.size)
        return QStringLiteral("-");
    return QString::number(static_cast<double>(*row.size) / (1024.0 * 1024.0), 'f', 1)
        + QStringLiteral(" MB");
}

QString CacheText(const EpisodeRow& row)
{
    if (!row.cached)
        return {};
    return row.conversionKept ? QStringLiteral("cached, conversion kept")
                              : QStringLiteral("cached");
}

} // namespace

CDlgFeedOptions::CDlgFeedOptions(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Feed Options"));
    const CDialogUnits U = SetTemplateSize(this, 330, 226);
    addressLabel = AddLabel(this, QString(), U(7, 7, 316, 8));
    QLabel* podcastLabel = AddLabel(this, QStringLiteral("Podcasts"), U(7, 24, 48, 8));
    podcastCombo = AddCombo(this, "podcast", U(60, 22, 110, 14),
        {kGlobal, QStringLiteral("On"), QStringLiteral("Off")});
    NameBy(podcastLabel, podcastCombo);
    QLabel* newestLabel = AddLabel(this, QStringLiteral("Newest"), U(7, 42, 48, 8));
    newestSpin = new QSpinBox(this);
    newestSpin->setObjectName(QStringLiteral("newest"));
    newestSpin->setGeometry(U(60, 40, 110, 14));
    newestSpin->setRange(-1, FEED_NEWEST_MAXIMUM);
    newestSpin->setSpecialValueText(kGlobal);
    newestSpin->setToolTip(QStringLiteral("0 takes every episode"));
    NameBy(newestLabel, newestSpin);
    QLabel* audioLabel = AddLabel(this, QStringLiteral("Audio"), U(7, 60, 48, 8));
    audioCombo = AddCombo(
        this, "audio", U(60, 58, 110, 14), {kGlobal, QStringLiteral("MP3"), QStringLiteral("AMR")});
    NameBy(audioLabel, audioCombo);
    QLabel* episodesLabel = AddLabel(
        this, QStringLiteral("Episodes of the cached feed, newest first"), U(7, 78, 316, 8));
    episodeList = new QTreeWidget(this);
    NameBy(episodesLabel, episodeList);
    episodeList->setObjectName(QStringLiteral("episodes"));
    episodeList->setGeometry(U(7, 88, 316, 110));
    episodeList->setRootIsDecorated(false);
    episodeList->setHeaderLabels(
        {QStringLiteral("Date"), QStringLiteral("Title"), QStringLiteral("Size"),
            QStringLiteral("Type"), QStringLiteral("Next update"), QStringLiteral("Cache")});
    listNote = AddLabel(this, QString(), U(12, 120, 306, 8));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(U(218, 205, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(U(273, 205, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    for (QComboBox* combo : {podcastCombo, audioCombo})
        connect(combo, &QComboBox::currentIndexChanged, this, &CDlgFeedOptions::RefreshEpisodes);
    connect(newestSpin, &QSpinBox::valueChanged, this, &CDlgFeedOptions::RefreshEpisodes);
}

FeedOptions CDlgFeedOptions::FromControls() const
{
    FeedOptions chosen;
    if (podcastCombo->currentIndex() > 0)
        chosen.podcast = podcastCombo->currentIndex() == 1;
    if (newestSpin->value() >= 0)
        chosen.newest = newestSpin->value();
    chosen.audio = static_cast<FeedAudio>(audioCombo->currentIndex());
    return chosen;
}

void CDlgFeedOptions::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        options = FromControls();
        return;
    }
    const QSignalBlocker blockPodcast(podcastCombo);
    const QSignalBlocker blockNewest(newestSpin);
    const QSignalBlocker blockAudio(audioCombo);
    addressLabel->setText(QString::fromStdString(address));
    podcastCombo->setCurrentIndex(!options.podcast ? 0 : *options.podcast ? 1 : 2);
    newestSpin->setValue(options.newest ? *options.newest : -1);
    audioCombo->setCurrentIndex(static_cast<int>(options.audio));
}

void CDlgFeedOptions::RefreshEpisodes()
{
    episodeList->clear();
    const FeedEpisodes feed = listEpisodes ? listEpisodes(FromControls()) : FeedEpisodes();
    for (const EpisodeRow& row : feed.episodes) {
        auto* item = new QTreeWidgetItem(episodeList);
        item->setText(0, QString::fromStdString(EpisodeDateText(row)));
        item->setText(1, QString::fromStdString(row.title));
        item->setText(2, SizeText(row));
        item->setText(3, QString::fromStdString(row.type));
        item->setText(4, QString::fromUtf8(EpisodeVerdictText(row.verdict)));
        item->setText(5, CacheText(row));
    }
    const bool empty = feed.episodes.empty();
    listNote->setText(!feed.error.empty() ? QString::fromStdString(feed.error)
            : empty                       ? QStringLiteral("The feed has no items.")
                                          : QString());
    listNote->setVisible(empty);
    episodeList->header()->resizeSections(QHeaderView::ResizeToContents);
}

void CDlgFeedOptions::showEvent(QShowEvent* event)
{
    UpdateData(false);
    RefreshEpisodes();
    podcastCombo->setFocus();
    QDialog::showEvent(event);
}

void CDlgFeedOptions::accept()
{
    UpdateData(true);
    QDialog::accept();
}

} // namespace corvane
