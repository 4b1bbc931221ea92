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
    hooks.collectAllFeeds = [this] { return subscriptions.CollectAllFeeds(subscriptions.Root()); };
    hooks.treeWhole = [this] { return subscriptions.ChannelsRead().ok; };
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
