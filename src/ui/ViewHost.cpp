#include "ui/ViewHost.h"

#include "ui/CorvaneView.h"
#include "ui/Prompts.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMenu>
#include <QUrl>

namespace corvane {

CViewHost::~CViewHost() = default;

void CViewHost::RunUpdate(CCorvaneView& view, const UpdateRequest& request)
{
    std::string error;
    if (view.State().StartWithoutWindow(request, &error) == StartResult::CannotOpenPackage) {
        Prompts().Message(&view, QStringLiteral("Error"),
            Capitalized(QString::fromStdString(error)), QMessageBox::Warning);
    }
}

void CViewHost::ShowSendTo(CCorvaneView&, const QString&, const QPoint&) { }

void CViewHost::ShowSyncTo(CCorvaneView&, const QString&, const QPoint&) { }

void CViewHost::ShowOptions(CCorvaneView&) { }

bool CViewHost::OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

QAction* CViewHost::ExecMenu(QMenu& menu, const QPoint& globalPos)
{
    return menu.exec(globalPos);
}

void CViewHost::ShowStatusText(const QString&) { }

qint64 CViewHost::TickCount()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

} // namespace corvane
