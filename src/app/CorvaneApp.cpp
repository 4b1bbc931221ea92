#include "app/CorvaneApp.h"

#include "app/InstanceChecker.h"
#include "app/MainFrame.h"
#include "app/TaskBarSetup.h"
#include "app/UpdateNotifier.h"
#include "ui/CorvaneView.h"
#include "ui/DlgSplash.h"
#include "ui/ProgramState.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QTimer>

namespace corvane {

namespace {
constexpr qint64 kSplashMilliseconds = 2000;
}

CCorvaneApp::CCorvaneApp() = default;

CCorvaneApp::~CCorvaneApp() = default;

bool CCorvaneApp::InitInstance(bool showSplash)
{
    checker = std::make_unique<CInstanceChecker>(QStringLiteral("Corvane"));
    if (checker->FindRunningInstance()) {
        checker->ActivateRunningInstance();
        return false;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ResourceIcon(128));

    if (showSplash) {
        splash = std::make_unique<CDlgSplash>();
        splash->ShowCentred();
        splashShownAt.start();
        QTimer::singleShot(kSplashMilliseconds + 1, this, &CCorvaneApp::CloseSplashWhenDue);
    }

    state = std::make_unique<CProgramState>();
    frame = std::make_unique<CMainFrame>();
    connect(frame.get(), &CMainFrame::exited, qApp, &QApplication::quit, Qt::QueuedConnection);
    view = new CCorvaneView(*state, frame.get());
    frame->SetView(view, view);
    InstallTaskPane(*frame, *view);
    InstallUpdateNotifier(*frame, *view);
    connect(
        view, &CCorvaneView::commandStatesChanged, frame.get(), &CMainFrame::UpdateCommandStates);
    view->OnInitialUpdate();
    frame->SetDocumentTitle(QString::fromStdString(view->Subscriptions().Document().title));
    connect(checker.get(), &CInstanceChecker::anotherInstanceStarted, frame.get(),
        &CMainFrame::ShowInFront);
    frame->show();
    frame->repaint();
    checker->RegisterRunningInstance();
    return true;
}

bool CCorvaneApp::SplashVisible() const
{
    return splash && splash->isVisible();
}

void CCorvaneApp::CloseSplashWhenDue()
{
    if (!splash)
        return;
    const qint64 elapsed = splashShownAt.elapsed();
    if (elapsed <= kSplashMilliseconds) {
        QTimer::singleShot(
            kSplashMilliseconds + 1 - elapsed, this, &CCorvaneApp::CloseSplashWhenDue);
        return;
    }
    splash->close();
    splash.reset();
}

} // namespace corvane
