// CDlgFeedOptions: "Feed Options", one feed's own choices (podcasts, Newest, audio form, each
// "As the global setting" or a value of its own) and the list of its episodes with what the next
// update does with each. The list follows the choices as they are edited, so the user sees what
// a choice would take before OK.
//
// The caller sets address, options and listEpisodes before RunDialog/exec and, after a result
// of 1, stores options (OK copies the controls into it; Cancel does not). Modal; GUI thread.
#pragma once

#include "model/FeedOptions.h"
#include "update/EpisodeList.h"

#include <QDialog>

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QSpinBox;
class QTreeWidget;

namespace corvane {

class CDlgFeedOptions : public QDialog {
    Q_OBJECT
public:
    explicit CDlgFeedOptions(QWidget* parent = nullptr);

    std::string address;
    FeedOptions options;
    // The episodes as the update would judge them with the given choices; empty: no list.
    std::function<FeedEpisodes(const FeedOptions&)> listEpisodes;

    // saveAndValidate true: controls into options; false: options (and address) into controls.
    void UpdateData(bool saveAndValidate);
    // Fills the episode list from listEpisodes with the choices the controls hold now.
    void RefreshEpisodes();

    QComboBox* PodcastCombo() const { return podcastCombo; }
    QSpinBox* NewestSpin() const { return newestSpin; }
    QComboBox* AudioCombo() const { return audioCombo; }
    QTreeWidget* EpisodeList() const { return episodeList; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    FeedOptions FromControls() const;

    QLabel* addressLabel;
    QComboBox* podcastCombo; // As the global setting / On / Off
    QSpinBox* newestSpin; // -1 as the global setting, 0 every episode, else that many
    QComboBox* audioCombo; // As the global setting / MP3 / AMR
    QTreeWidget* episodeList;
    QLabel* listNote; // why there is no list, when there is none
};

} // namespace corvane
