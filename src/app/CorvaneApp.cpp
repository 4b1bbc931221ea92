#include "app/CorvaneApp.h"

#include "app/InstanceChecker.h"
#include "app/MainFrame.h"
#include "ui/Resources.h"
#include "ui/AboutDlg.h"
#include "ui/ChannelProp.h"
#include "ui/CorvaneView.h"
#include "ui/DlgDeleteConfirm.h"
#include "ui/DlgGroupProp.h"
#include "ui/DlgImportConfirm.h"
#include "ui/DlgSplash.h"
#include "ui/ProgramState.h"
#include "ui/TaskBar.h"
#include "app/TaskBarSetup.h"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QTimer>

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

void CCorvaneApp::TakeScreenshots(const QString& folder)
{
    QDir().mkpath(folder);
    const QDir target(folder);
    // A tree as a user sees it: everything open, one feed marked (its group turns mixed), one
    // item selected.
    view->expandAll();
    for (QModelIndex index = view->Model().RootIndex(); index.isValid();
         index = view->indexBelow(index)) {
        COutlineItem* node = SubscriptionModel::NodeFromIndex(index);
        if (node && node->IsFeed()) {
            view->Subscriptions().ClickMark(node);
            view->setCurrentIndex(index);
            break;
        }
    }
    QTimer::singleShot(300, this, [this, target] {
        frame->grab().save(target.filePath(QStringLiteral("main.png")));

        CChannelProp channel(frame.get());
        channel.title = "Example News";
        channel.xmlurl = "https://news.example.org/rss.xml";
        channel.htmlurl = "https://news.example.org/";
        channel.description = "Headlines from the example newsroom";
        channel.show();
        QApplication::processEvents();
        channel.grab().save(target.filePath(QStringLiteral("channel-properties.png")));
        channel.hide();

        CDlgGroupProp group(frame.get());
        group.title = "Technology";
        group.description = "Software and gadgets";
        group.show();
        QApplication::processEvents();
        group.grab().save(target.filePath(QStringLiteral("group-properties.png")));
        group.hide();

        CDlgDeleteConfirm deleteConfirm(frame.get());
        deleteConfirm.show();
        QApplication::processEvents();
        deleteConfirm.grab().save(target.filePath(QStringLiteral("delete-confirm.png")));
        deleteConfirm.hide();

        CDlgImportConfirm importConfirm(frame.get());
        importConfirm.show();
        QApplication::processEvents();
        importConfirm.grab().save(target.filePath(QStringLiteral("import-confirm.png")));
        importConfirm.hide();

        CAboutDlg about(frame.get());
        about.show();
        QApplication::processEvents();
        about.grab().save(target.filePath(QStringLiteral("about.png")));
        about.hide();

        auto* pane = qobject_cast<CTaskBar*>(frame->TaskPaneDock()->widget());
        TakeTaskPaneScreenshots(*frame, *view, *pane, target.path(), [this] { frame->Exit(); });
    });
}
