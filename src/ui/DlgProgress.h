// Showing update jobs: the progress dialog of the manual jobs (Update All, Marked and Current
// Feed, Re-Pack).
//
// CDlgProgress ("Updating Feeds...") shows one job of a CUpdateController: status text and
// progress bar as the job reports them, each failure as an "Error" message box that the job waits
// for, and the final text until OK. While the job runs OK is disabled and Cancel enabled; at the
// end the reverse. Cancel stops the job at once: nothing is shown after it and the previous
// package stays as it was.
//
// Thread: the dialog lives on the GUI thread. The job calls its listener from the job's thread;
// the listener forwards every call as a queued call into the GUI thread, and for a failure waits
// until the box was closed, or until Cancel, whichever comes first.
#pragma once

#include "update/ScheduledUpdate.h"

#include <QDialog>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class CDlgProgress;

// The listener a CDlgProgress hands to the job. Not for use on its own.
class ProgressListener : public UpdateListener {
public:
    explicit ProgressListener(CDlgProgress& dialog)
        : dialog(dialog)
    { }
    void OnStatus(const std::string& text) override;
    void OnProgressRange(int maximum) override;
    void OnProgressStep() override;
    void OnFailure(const std::string& text, const std::string& reason) override;
    void OnFinished(const std::string& finalText, bool anyFailed) override;

    // From the GUI thread: no further call is shown, and a waiting OnFailure returns.
    void Cancel();
    bool Cancelled() const;

private:
    template <typename Function> void Post(Function function);
    CDlgProgress& dialog;
    mutable std::mutex mutex;
    std::condition_variable answered;
    bool cancelled = false;
    unsigned long long failuresAsked = 0;
    unsigned long long failuresAnswered = 0;
};

class CDlgProgress : public QDialog {
    Q_OBJECT
public:
    // The dialog runs request on controller when shown through Run().
    CDlgProgress(CUpdateController& controller, UpdateRequest request, QWidget* parent = nullptr);
    ~CDlgProgress() override;

    // CCorvaneView::StartUpdate: starts the job and, when it started, shows the dialog modally
    // until OK or Cancel. Returns 0 after a job or when there was nothing to do, -1 when the
    // package could not be created (error then says why; nothing is shown).
    int Run(std::string* error = nullptr);

    // Shows one failure of the job and returns when the user closed it. The default is a modal
    // "Error" box with the warning icon, owned by the dialog, with the reason (when there is one)
    // as its detail text. Tests answer it here.
    std::function<void(QWidget* owner, const QString& text, const QString& reason)> showFailure;

    // The start result of the last Run().
    StartResult LastStart() const { return lastStart; }
    bool Finished() const { return finished; }

    // The listener the job reports to (also for the documentation pictures).
    UpdateListener& Listener() { return listener; }

    QLabel* StatusLabel() const { return statusLabel; }
    QProgressBar* ProgressBar() const { return progressBar; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

    // OnCancel: stops the job at once, then closes the dialog with the cancel result. After the
    // job's end it only closes the dialog.
    void reject() override;

private:
    friend class ProgressListener;
    void ShowStatus(const QString& text);
    void FitStatusText();
    void SetRange(int maximum);
    void Step();
    void ShowFailure(const QString& text, const QString& reason);
    void ShowEnd(const QString& finalText);

    CUpdateController& controller;
    UpdateRequest request;
    ProgressListener listener;
    StartResult lastStart = StartResult::NothingToDo;
    bool finished = false;
    QLabel* statusLabel = nullptr;
    QProgressBar* progressBar = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QFrame* rule = nullptr;
};

} // namespace corvane
