// The interface between the main frame and whoever handles its commands (the tree view).
#pragma once

#include <optional>

namespace corvane {

// Whoever handles the view's commands. Thread: GUI thread.
class CCommandTarget {
public:
    virtual ~CCommandTarget() = default;
    // Runs the command when this target handles it and it is enabled; false when not handled.
    virtual bool OnCommand(int commandId) = 0;
    // Whether the command is enabled, or nothing when this target does not handle it.
    virtual std::optional<bool> CommandEnabled(int commandId) const = 0;
};

} // namespace corvane
