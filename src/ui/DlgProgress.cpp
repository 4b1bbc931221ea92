#include "ui/DlgProgress.h"

#include "ui/DialogUnits.h"
#include "ui/Prompts.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>

namespace corvane {

// --- ProgressListener (job thread) ------------------------------------------------------------

template <typename Function> void ProgressListener::Post(Function function)
{
    // The dialog outlives every call: Run() waits for the job's thread before it returns, and
    // a call still queued when the dialog goes is dropped with it.
    QMetaObject::invokeMethod(
        &dialog,
        [this, function = std::move(function)]() mutable {
            if (!Cancelled())
                function();
        },
        Qt::QueuedConnection);
}

void ProgressListener::OnStatus(const std::string& text)
{
    Post([this, text = QString::fromStdString(text)] { dialog.ShowStatus(text); });
}

void ProgressListener::OnProgressRange(int maximum)
{
    Post([this, maximum] { dialog.SetRange(maximum); });
}

void ProgressListener::OnProgressStep()
{
    Post([this] { dialog.Step(); });
}

void ProgressListener::OnFailure(const std::string& text, const std::string& reason)
{
    // The job must wait until the box is closed. A blocking queued call would deadlock when the
    // GUI thread waits for the job after Cancel, so the wait is on a condition that Cancel also
    // ends.
    unsigned long long ticket = 0;
    {
        std::lock_guard lock(mutex);
        if (cancelled)
            return;
        ticket = ++failuresAsked;
    }
    QMetaObject::invokeMethod(
        &dialog,
        [this, ticket, message = QString::fromStdString(text),
            detail = QString::fromStdString(reason)] {
            if (!Cancelled())
                dialog.ShowFailure(message, detail);
            std::lock_guard lock(mutex);
            failuresAnswered = std::max(failuresAnswered, ticket);
            answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex);
    answered.wait(lock, [&] { return cancelled || failuresAnswered >= ticket; });
}

void ProgressListener::OnFinished(const std::string& finalText, bool)
{
    Post([this, text = QString::fromStdString(finalText)] { dialog.ShowEnd(text); });
}

void ProgressListener::Cancel()
{
    std::lock_guard lock(mutex);
    cancelled = true;
    answered.notify_all();
}

bool ProgressListener::Cancelled() const
{
    std::lock_guard lock(mutex);
    return cancelled;
}

// --- CDlgProgress (GUI thread) ----------------------------------------------------------------

CDlgProgress::CDlgProgress(CUpdateController& controller_, UpdateRequest request_, QWidget* parent)
    : QDialog(parent)
    , controller(controller_)
    , request(std::move(request_))
    , listener(*this)
{
    setWindowTitle(tr("Updating Feeds..."));
    setFixedSize(DialogUnits::Size(274, 70));
    setModal(true);
    DialogUnits::SetTemplateFont(this);

    auto* picture = new QLabel(this);
    picture->setGeometry(DialogUnits::Rect(7, 7, 53, 57));
    picture->setPixmap(QIcon(":/taskpane/progress.svg").pixmap(picture->size()));
    picture->setScaledContents(true);

    statusLabel = new QLabel(tr("Updating..."), this);
    statusLabel->setGeometry(DialogUnits::Rect(69, 7, 198, 19));
    statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusLabel->setWordWrap(true);
    // Addresses can be long; they must not widen the dialog or push the bar away.
    statusLabel->setTextFormat(Qt::PlainText);

    progressBar = new QProgressBar(this);
    progressBar->setGeometry(DialogUnits::Rect(69, 31, 198, 8));
    progressBar->setTextVisible(false);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);

    rule = new QFrame(this);
    rule->setGeometry(DialogUnits::Rect(69, 45, 198, 1));
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    okButton = new QPushButton(tr("OK"), this);
    okButton->setGeometry(DialogUnits::Rect(164, 49, 50, 14));
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setGeometry(DialogUnits::Rect(217, 49, 50, 14));
    okButton->setEnabled(false);
    cancelButton->setEnabled(true);
    cancelButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &CDlgProgress::accept);
    connect(cancelButton, &QPushButton::clicked, this, &CDlgProgress::reject);

    showFailure = [](QWidget* owner, const QString& text, const QString& reason) {
        QMessageBox box(
            QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, owner);
        if (!reason.isEmpty())
            box.setDetailedText(reason);
        ExecModal(box);
    };
}

CDlgProgress::~CDlgProgress()
{
    // Whatever happened, the job must not call into a dialog that is gone.
    if (lastStart != StartResult::Started)
        return; // the controller's job, if any, is not this dialog's
    if (controller.ManualRunning())
        controller.CancelManual();
    listener.Cancel();
    controller.WaitManual();
}

int CDlgProgress::Run(std::string* error)
{
    finished = false;
    lastStart = controller.StartUpdate(request, listener, error);
    switch (lastStart) {
    case StartResult::Started:
        break;
    case StartResult::CannotOpenPackage:
        return -1;
    case StartResult::NothingToDo:
    case StartResult::Busy:
        return 0;
    }
    ExecModal(*this);
    // After OK the job has ended; after Cancel it stops at its next safe point, which is close:
    // the listener no longer waits for the GUI, so this cannot deadlock.
    controller.WaitManual();
    return 0;
}

void CDlgProgress::reject()
{
    if (!finished) {
        // The job first, then the listener: a job released from a failure box before it knows
        // of the cancel could run to its end and replace the package in between.
        controller.CancelManual();
        listener.Cancel();
    }
    QDialog::reject();
}

void CDlgProgress::ShowStatus(const QString& text)
{
    statusLabel->setText(text);
    FitStatusText();
}

void CDlgProgress::FitStatusText()
{
    // The final text with its failure addition needs three lines in most desktop fonts, one
    // more than the template's status field holds; the dialog grows downwards rather than
    // cutting off the end of the message.
    const QRect status = DialogUnits::Rect(69, 7, 198, 19);
    const int needed = statusLabel->heightForWidth(status.width());
    const int extra = std::max(0, needed - status.height());
    statusLabel->setGeometry(status.adjusted(0, 0, 0, extra));
    progressBar->setGeometry(DialogUnits::Rect(69, 31, 198, 8).translated(0, extra));
    rule->setGeometry(DialogUnits::Rect(69, 45, 198, 1).translated(0, extra));
    okButton->setGeometry(DialogUnits::Rect(164, 49, 50, 14).translated(0, extra));
    cancelButton->setGeometry(DialogUnits::Rect(217, 49, 50, 14).translated(0, extra));
    setFixedSize(DialogUnits::Size(274, 70) + QSize(0, extra));
}

void CDlgProgress::SetRange(int maximum)
{
    progressBar->setRange(0, std::max(0, maximum));
    progressBar->setValue(0);
    // An empty range would make the bar busy-animate forever; an empty job is simply complete.
    if (maximum <= 0)
        progressBar->setRange(0, 1);
}

void CDlgProgress::Step()
{
    progressBar->setValue(std::min(progressBar->value() + 1, progressBar->maximum()));
}

void CDlgProgress::ShowFailure(const QString& text, const QString& reason)
{
    if (showFailure)
        showFailure(this, Capitalized(text), Capitalized(reason));
}

void CDlgProgress::ShowEnd(const QString& finalText)
{
    finished = true;
    cancelButton->setEnabled(false);
    okButton->setEnabled(true);
    okButton->setDefault(true);
    okButton->setFocus();
    ShowStatus(finalText);
}

} // namespace corvane
