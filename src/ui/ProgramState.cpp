#include "ui/ProgramState.h"

namespace corvane {

CProgramState::CProgramState()
    : controller(Hooks())
{ }

CProgramState::~CProgramState() = default;

UpdateHooks CProgramState::Hooks()
{
    UpdateHooks hooks;
    // The members, as Options left them: a settings file that could not be written, or that was
    // changed from outside, must not undo the user's choices while the program runs.
    hooks.readSettings = [this] { return subscriptions.Settings(); };
    hooks.readFeedOptions
        = [this](const std::string& address) { return subscriptions.FeedOptionsFor(address); };
    hooks.collectAllFeeds = [this] { return subscriptions.CollectAllFeeds(subscriptions.Root()); };
    // A prune without the feeds' own choices would take episodes that a feed keeps.
    hooks.treeWhole = [this] {
        return subscriptions.ChannelsRead().ok && subscriptions.FeedOptionsReadError().empty();
    };
    hooks.syncChannels = [this] { return subscriptions.SyncChannels(); };
    hooks.setRepackable = [this](int value) { return subscriptions.SetRepackable(value); };
    hooks.scheduledBusy = [this](bool busy) { emit scheduledBusyChanged(busy); };
    return hooks;
}

StartResult CProgramState::StartWithoutWindow(const UpdateRequest& request, std::string* error)
{
    return controller.StartUpdate(request, silentListener, error);
}

} // namespace corvane
