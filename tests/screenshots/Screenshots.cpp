#include "Screenshots.h"

#include "app/CorvaneApp.h"
#include "app/MainFrame.h"
#include "ui/AboutDlg.h"
#include "ui/ChannelProp.h"
#include "ui/CorvaneView.h"
#include "ui/DlgDeleteConfirm.h"
#include "ui/DlgGroupProp.h"
#include "ui/DlgImportConfirm.h"
#include "ui/DlgMoreOptions.h"
#include "ui/DlgOptions.h"
#include "ui/DlgProgress.h"
#include "ui/HoverButton.h"
#include "ui/TaskBar.h"

#include <QApplication>
#include <QDockWidget>
#include <QEnterEvent>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

using namespace corvane;

namespace {

// Saves the pictures into one folder and remembers the files it could not write.
class PictureFolder {
public:
    explicit PictureFolder(const QDir& folder)
        : folder(folder)
    { }
    void Save(const QPixmap& picture, const char* name)
    {
        const QString path = folder.filePath(QString::fromUtf8(name));
        if (!picture.save(path))
            failed << path;
    }
    // Shows widget, pictures it and hides it again.
    void SaveShown(QWidget& widget, const char* name)
    {
        widget.show();
        QApplication::processEvents();
        Save(widget.grab(), name);
        widget.hide();
    }
    QStringList failed;

private:
    QDir folder;
};

void PointerOver(QWidget* widget)
{
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QEnterEvent event(inside, widget->mapToGlobal(inside), widget->mapToGlobal(inside));
    QApplication::sendEvent(widget, &event);
}

void PointerAway(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

// A tree as a user sees it: everything open, one feed marked (its group turns mixed), one item
// selected.
void PrepareTree(CCorvaneView& view)
{
    view.expandAll();
    for (QModelIndex index = view.Model().RootIndex(); index.isValid();
         index = view.indexBelow(index)) {
        COutlineItem* node = SubscriptionModel::NodeFromIndex(index);
        if (node && node->IsFeed()) {
            view.Subscriptions().ClickMark(node);
            view.setCurrentIndex(index);
            break;
        }
    }
}

void TakeDialogPictures(QWidget& frame, PictureFolder& pictures)
{
    CChannelProp channel(&frame);
    channel.title = "Example News";
    channel.xmlurl = "https://news.example.org/rss.xml";
    channel.htmlurl = "https://news.example.org/";
    channel.description = "Headlines from the example newsroom";
    pictures.SaveShown(channel, "channel-properties.png");

    CDlgGroupProp group(&frame);
    group.title = "Technology";
    group.description = "Software and gadgets";
    pictures.SaveShown(group, "group-properties.png");

    CDlgDeleteConfirm deleteConfirm(&frame);
    pictures.SaveShown(deleteConfirm, "delete-confirm.png");
    CDlgImportConfirm importConfirm(&frame);
    pictures.SaveShown(importConfirm, "import-confirm.png");
    CAboutDlg about(&frame);
    pictures.SaveShown(about, "about.png");
}

// A job's end as the dialog shows it, fed through the dialog's own listener.
void TakeProgressPicture(QWidget& frame, CCorvaneView& view, PictureFolder& pictures)
{
    UpdateRequest request;
    CDlgProgress progress(view.UpdateController(), request, &frame);
    progress.show();
    UpdateListener& listener = progress.Listener();
    listener.OnProgressRange(6);
    for (int i = 0; i < 6; ++i)
        listener.OnProgressStep();
    listener.OnFinished(UpdateFinalText(48213, true), true);
    QApplication::processEvents();
    pictures.Save(progress.grab(), "progress.png");
}

// The menu runs its own loop: picture it from inside that loop while it is open, then close it.
void TakeSendToPicture(QWidget& frame, CTaskBar& pane, PictureFolder& pictures)
{
    CSendTo sendTo;
    sendTo.execMenu = [&frame, &pictures](QMenu& menu, QPoint globalPoint) -> QAction* {
        menu.popup(globalPoint);
        QApplication::processEvents();
        QPixmap picture = frame.grab();
        {
            QPainter painter(&picture);
            painter.drawPixmap(frame.mapFromGlobal(globalPoint), menu.grab());
        }
        pictures.Save(picture, "send-to.png");
        menu.close();
        return nullptr;
    };
    sendTo.message = [](QWidget*, const QString&, const QString&) {};
    // A stand-in package, so that the menu opens whether or not an update has run.
    QTemporaryDir scratch;
    QFile package(scratch.filePath(QStringLiteral("corvane.mrf")));
    if (package.open(QIODevice::WriteOnly))
        package.close();
    sendTo.Run(&pane, pane.sendToButton->geometry().topLeft(), package.fileName());
}

void TakeTaskPanePictures(
    QWidget& frame, CCorvaneView& view, CTaskBar& pane, PictureFolder& pictures)
{
    PointerOver(pane.updateAllButton);
    QApplication::processEvents();
    pictures.Save(pane.grab(), "task-pane.png");
    PointerAway(pane.updateAllButton);

    {
        CDlgOptions options(&frame);
        options.SetValues(view.Subscriptions().Settings());
        options.show();
        QApplication::processEvents();
        pictures.Save(options.grab(), "options.png");
        // What its "More Options..." button opens.
        CDlgMoreOptions more(&options);
        more.SetNewest(view.Subscriptions().Settings().newest);
        pictures.SaveShown(more, "more-options.png");
    }
    TakeProgressPicture(frame, view, pictures);
    TakeSendToPicture(frame, pane, pictures);
}

} // namespace

void TakeScreenshots(
    CCorvaneApp& app, const QDir& folder, std::function<void(const QStringList& failed)> done)
{
    CMainFrame& frame = *app.MainFrame();
    CCorvaneView& view = *app.View();
    PrepareTree(view);
    // The window paints its tree once the event loop ran a little.
    QTimer::singleShot(300, &frame, [&frame, &view, folder, done = std::move(done)] {
        PictureFolder pictures(folder);
        pictures.Save(frame.grab(), "main.png");
        TakeDialogPictures(frame, pictures);
        auto* pane = qobject_cast<CTaskBar*>(frame.TaskPaneDock()->widget());
        TakeTaskPanePictures(frame, view, *pane, pictures);
        if (done)
            done(pictures.failed);
    });
}
