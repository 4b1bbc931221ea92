#include "ui/ProgramState.h"

namespace corvane {

CProgramState::CProgramState()
    : controller(Hooks())
{ }

CProgramState::~CProgramState() = default;

UpdateHooks CProgramState::Hooks()
{
    UpdateHooks hooks;
    hooks.collectAllFeeds = [this] { return subscriptions.CollectAllFeeds(subscriptions.Root()); };
    hooks.syncChannels = [this] { return subscriptions.SyncChannels(); };
    hooks.setRepackable = [this](int value) { subscriptions.SetRepackable(value); };
    hooks.scheduledBusy = [this](bool busy) { emit scheduledBusyChanged(busy); };
    return hooks;
}

StartResult CProgramState::StartWithoutWindow(const UpdateRequest& request, std::string* error)
{
    return controller.StartUpdate(request, silentListener, error);
}

} // namespace corvane
