// CDlgMoreOptions ("More Options"), opened from the Options dialog: how many of the newest
// episodes of each feed an update takes, 0 for every episode, and whether enclosures typed with
// the other names of MP3 (audio/mp3, audio/x-mpeg, ...) are taken too. It edits a value of the
// Options dialog only; that dialog's OK stores it with the other options. Modal; GUI thread.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace corvane {

// The values the dialog edits.
struct MoreOptionsValues {
    int newest = 0; // "Podcast"/"Newest"
    int anyMp3Type = 0; // "Podcast"/"Any MP3 Type"
};

class CDlgMoreOptions : public QDialog {
    Q_OBJECT
public:
    explicit CDlgMoreOptions(QWidget* parent = nullptr);

    // The number shown, clamped to 0..1000 (the range of "Podcast"/"Newest").
    void SetNewest(int newest);
    // The number as typed so far; valid after OK.
    int Newest() const;
    // The values shown and, after OK, chosen.
    void SetValues(const MoreOptionsValues& values);
    MoreOptionsValues Values() const;

    void accept() override;

    // Access for tests and the screenshot script.
    QLabel* NewestLabel() const { return newestLabel; }
    QSpinBox* NewestSpin() const { return newestSpin; }
    QCheckBox* AnyMp3TypeCheck() const { return anyMp3TypeCheck; }
    QLabel* NoteLabel() const { return noteLabel; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

private:
    QLabel* newestLabel = nullptr;
    QSpinBox* newestSpin = nullptr;
    QCheckBox* anyMp3TypeCheck = nullptr;
    QLabel* noteLabel = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

} // namespace corvane
