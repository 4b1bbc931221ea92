// The Options dialog: edits the output file, the daily scheduled download and the podcast
// options of the settings store. "More Options..." opens CDlgMoreOptions for the number of newest
// episodes per feed, which is kept in the dialog's values and stored with them on OK.
//
// The caller copies its settings into the dialog's values (SetValues), runs it modally and, on
// Accepted, copies Values() back and writes them with SaveOptions. RunOptionsDialog does all of
// that. Cancel leaves the values and the store untouched. GUI thread only.
#pragma once

#include "platform/Settings.h"
#include "ui/DlgMoreOptions.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimeEdit;
class QToolButton;

namespace corvane {

// The outcome of reading the length field's text.
enum class LengthCheck { Ok, NotAnInteger, OutOfRange };

// Parses the length field: surrounding white space is ignored, an optional sign and decimal
// digits make an integer, anything else (also an empty text) is not one; the integer must lie
// from 1 to 4294967295. value is set only on Ok.
LengthCheck CheckLengthText(const QString& text, std::uint32_t& value);

// path with ".extension" appended when its file name has no extension of its own.
QString WithDefaultExtension(const QString& path, const QString& extension);

class CDlgOptions : public QDialog {
    Q_OBJECT
public:
    explicit CDlgOptions(QWidget* parent = nullptr);

    // The dialog's values, one for each setting it edits ("Repackable" passes through unchanged).
    void SetValues(const CorvaneSettings& settings);
    CorvaneSettings Values() const { return values; }

    // Shows a validation message; the default is a warning box owned by the dialog. Tests put a
    // recorder here.
    std::function<void(const QString& text)> showMessage;
    // Asks for the output file, starting from the current path; an empty result means Cancel.
    // The default is a file-open dialog with the "News Feed File (*.nff)" filter.
    std::function<QString(QWidget* parent, const QString& current)> chooseFile;
    // Asks for the values of "More Options" (the number of newest episodes per feed, any MP3
    // type), starting from current; nullopt means Cancel. The default runs CDlgMoreOptions
    // modally.
    std::function<std::optional<MoreOptionsValues>(
        QWidget* parent, const MoreOptionsValues& current)>
        chooseMoreOptions;

    // Enables the controls from the values: the radio buttons with "Support Podcast"; the
    // sliders, their labels, "Length Limit" and "Download The First Item Only" also need the
    // AMR format; the length field, its up-down buttons and "Seconds" also need "Length Limit".
    void ApplyEnableRules();

    // Reads the controls into the values in the fixed order (path, podcast, length, format,
    // limit, compression, volume, length check, first item only, schedule). On a bad length shows
    // the message, puts the focus on the length field and returns false; the values after the
    // failing step keep their previous contents.
    bool ReadControls();

    // The "..." button.
    void OnBrowse();
    // The "More Options..." button: on OK of the question, the number of newest episodes and
    // the MP3 type rule go into the values; the other controls are left as they are.
    void OnMoreOptions();

    // Access for tests and the screenshot script.
    QLineEdit* PathEdit() const { return pathEdit; }
    QPushButton* BrowseButton() const { return browseButton; }
    QCheckBox* ScheduleCheck() const { return scheduleCheck; }
    QTimeEdit* TimePicker() const { return timePicker; }
    QCheckBox* PodcastCheck() const { return podcastCheck; }
    QRadioButton* Mp3Radio() const { return mp3Radio; }
    QRadioButton* AmrRadio() const { return amrRadio; }
    QSlider* CompressionSlider() const { return compressionSlider; }
    QSlider* VolumeSlider() const { return volumeSlider; }
    QLabel* CompressionLabel() const { return compressionLabel; }
    QLabel* VolumeLabel() const { return volumeLabel; }
    QLabel* LowLabel() const { return lowLabel; }
    QLabel* HighLabel() const { return highLabel; }
    QCheckBox* LimitCheck() const { return limitCheck; }
    QLineEdit* LengthEdit() const { return lengthEdit; }
    QToolButton* LengthUp() const { return lengthUp; }
    QToolButton* LengthDown() const { return lengthDown; }
    QLabel* SecondsLabel() const { return secondsLabel; }
    QCheckBox* FirstItemCheck() const { return firstItemCheck; }
    QPushButton* MoreButton() const { return moreButton; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }
    QGroupBox* OutputGroup() const { return outputGroup; }
    QGroupBox* PodcastGroup() const { return podcastGroup; }

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The format pair is one stop of Tab and Shift+Tab, on its checked button.
    bool focusNextPrevChild(bool next) override;

private:
    // The constructor's parts: the controls at their template places; the length field's
    // up-down buttons and the sliders' ranges; the text controls widened to their texts; the tab
    // order and the handlers; the default message box and file dialog.
    void CreateControls();
    void SetUpLengthAndSliders();
    void FitTexts();
    void PlaceScaleLabels();
    void FitLengthField();
    void ConnectControls();
    void SetUpDefaultPrompts();
    void FillControls();
    void StepLength(int delta);
    void OnPodcastClicked();
    void OnScheduleClicked();

    CorvaneSettings values;

    QLineEdit* pathEdit = nullptr;
    QPushButton* browseButton = nullptr;
    QCheckBox* scheduleCheck = nullptr;
    QTimeEdit* timePicker = nullptr;
    QCheckBox* podcastCheck = nullptr;
    QRadioButton* mp3Radio = nullptr;
    QRadioButton* amrRadio = nullptr;
    QLabel* compressionLabel = nullptr;
    QSlider* compressionSlider = nullptr;
    QLabel* volumeLabel = nullptr;
    QSlider* volumeSlider = nullptr;
    QLabel* lowLabel = nullptr;
    QLabel* highLabel = nullptr;
    QCheckBox* limitCheck = nullptr;
    QLineEdit* lengthEdit = nullptr;
    QToolButton* lengthUp = nullptr;
    QToolButton* lengthDown = nullptr;
    QLabel* secondsLabel = nullptr;
    QCheckBox* firstItemCheck = nullptr;
    QPushButton* moreButton = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QGroupBox* outputGroup = nullptr;
    QGroupBox* podcastGroup = nullptr;
};

// The View menu's "&Options": copies settings into a CDlgOptions, runs it modally and, on OK,
// copies the values back into settings (the number of newest episodes included) and hands them
// to apply, which keeps and stores the Options entries (default SaveOptions). Returns true on OK.
// On Cancel nothing changes and apply is not called. "Repackable" is never changed.
bool RunOptionsDialog(QWidget* parent, CorvaneSettings& settings,
    const std::function<void(const CorvaneSettings&)>& apply = SaveOptions);

} // namespace corvane
