// The fixture of the tree view's tests: a view over the sample tree in a private user
// environment, with scripted prompts, a scripted host whose drag clock the test moves by hand,
// and helpers that find items and send the mouse to them.
#pragma once

#include "UiTestSupport.h"

#include "ui/ChannelProp.h"
#include "ui/CorvaneView.h"
#include "ui/DlgGroupProp.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace corvane;

// Answers the view's requests as a test scripts them; what no test scripted does what the
// defaults do. The drag's clock is the test's.
class ScriptedHost : public CViewHost {
public:
    explicit ScriptedHost(const qint64& clock)
        : clock(clock)
    { }
    std::function<void(const UpdateRequest& request)> runUpdate;
    std::function<void(const QString& packagePath, const QPoint& globalPos)> showSendTo;
    std::function<bool(const QUrl& url)> openUrl;
    std::function<QAction*(QMenu& menu, const QPoint& globalPos)> execMenu;
    QStringList statusTexts;

    void RunUpdate(CCorvaneView& view, const UpdateRequest& request) override
    {
        runUpdate ? runUpdate(request) : CViewHost::RunUpdate(view, request);
    }
    void ShowSendTo(
        CCorvaneView& view, const QString& packagePath, const QPoint& globalPos) override
    {
        showSendTo ? showSendTo(packagePath, globalPos)
                   : CViewHost::ShowSendTo(view, packagePath, globalPos);
    }
    bool OpenUrl(const QUrl& url) override
    {
        return openUrl ? openUrl(url) : CViewHost::OpenUrl(url);
    }
    QAction* ExecMenu(QMenu& menu, const QPoint& globalPos) override
    {
        return execMenu ? execMenu(menu, globalPos) : CViewHost::ExecMenu(menu, globalPos);
    }
    void ShowStatusText(const QString& text) override { statusTexts << text; }
    qint64 TickCount() override { return clock; }

private:
    const qint64& clock;
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        environment.WriteChannels(SampleChannels());
        view = std::make_unique<CCorvaneView>(state);
        auto scripted = std::make_unique<ScriptedHost>(clock);
        host = scripted.get();
        view->SetHost(std::move(scripted));
        view->resize(420, 480);
        view->show();
        view->OnInitialUpdate();
        view->expandAll();
        QApplication::processEvents();
    }
    void TearDown() override { view.reset(); }

    QModelIndex Find(const QString& title) const
    {
        const QModelIndexList found = view->Model().match(view->Model().RootIndex(),
            Qt::DisplayRole, title, 1, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found.first();
    }
    COutlineItem* Node(const QString& title) const
    {
        return SubscriptionModel::NodeFromIndex(Find(title));
    }
    int Mark(const QString& title) const { return view->Subscriptions().Mark(Node(title)); }
    std::vector<std::string> Children(const QString& title) const
    {
        std::vector<std::string> titles;
        for (COutlineItem* child = Node(title)->firstChild.get(); child;
             child = child->nextSibling.get())
            titles.push_back(child->title.value_or(""));
        return titles;
    }
    QPoint LabelPoint(const QString& title) const { return view->LabelRect(Find(title)).center(); }
    QPoint StatePoint(const QString& title) const
    {
        return view->StateImageRect(Find(title)).center();
    }
    QWidget* Viewport() const { return view->viewport(); }

    void ClickMark(const QString& title)
    {
        SendMouse(Viewport(), QEvent::MouseButtonPress, StatePoint(title));
        SendMouse(Viewport(), QEvent::MouseButtonRelease, StatePoint(title), Qt::LeftButton,
            Qt::NoButton);
    }
    // Presses on from's label, waits waitMs on the drag clock, moves to each point and releases
    // at the last.
    void Drag(const QString& from, const std::vector<QPoint>& path, qint64 waitMs = 100)
    {
        const QPoint start = LabelPoint(from);
        SendMouse(Viewport(), QEvent::MouseButtonPress, start);
        clock += waitMs;
        SendMouse(Viewport(), QEvent::MouseMove, start + QPoint(12, 0), Qt::NoButton);
        for (const QPoint& point : path)
            SendMouse(Viewport(), QEvent::MouseMove, point, Qt::NoButton);
        SendMouse(
            Viewport(), QEvent::MouseButtonRelease, path.back(), Qt::LeftButton, Qt::NoButton);
    }
    void RightClick(const QPoint& pos, std::function<QAction*(QMenu&)> choose)
    {
        host->execMenu = [choose](QMenu& menu, const QPoint&) { return choose(menu); };
        view->ShowContextMenuAt(pos);
    }
    static QAction* FindAction(QMenu& menu, const QString& text)
    {
        for (QAction* action : menu.actions()) {
            if (action->text() == text)
                return action;
            if (action->menu()) {
                if (QAction* inner = FindAction(*action->menu(), text))
                    return inner;
            }
        }
        return nullptr;
    }
    static std::map<QString, bool> Enablement(QMenu& menu)
    {
        std::map<QString, bool> states;
        for (QAction* action : menu.actions()) {
            if (action->isSeparator())
                continue;
            states[action->text()] = action->isEnabled();
            if (action->menu()) {
                for (const auto& [text, enabled] : Enablement(*action->menu()))
                    states[text] = enabled;
            }
        }
        return states;
    }
    // Confirms a dialog, filling a group's or a feed's fields when given.
    void AnswerWith(const std::string& title, const std::string& description = {})
    {
        prompts.answerDialog = [title, description](QDialog& dialog) {
            if (auto* group = qobject_cast<CDlgGroupProp*>(&dialog)) {
                group->TitleEdit()->setText(QString::fromStdString(title));
                group->DescriptionEdit()->setText(QString::fromStdString(description));
            } else if (auto* channel = qobject_cast<CChannelProp*>(&dialog)) {
                channel->TitleEdit()->setText(QString::fromStdString(title));
                channel->DescriptionEdit()->setText(QString::fromStdString(description));
            }
            dialog.accept();
            return 1;
        };
    }

    PrivateEnvironment environment;
    ScriptedPrompts prompts;
    qint64 clock = 10000;
    CProgramState state;
    std::unique_ptr<CCorvaneView> view;
    ScriptedHost* host = nullptr; // owned by the view
};
