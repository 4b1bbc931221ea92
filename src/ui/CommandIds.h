// Command identifiers of the desktop program. Menu actions carry theirs as QAction::data(), so
// the task pane, the tests and the frame's accessors find an action by number.
#pragma once

namespace corvane {

namespace CommandId {
// Tray menu.
constexpr int TRAY_OPEN = 32771;
constexpr int TRAY_EXIT = 32773;
// Tree context menus.
constexpr int PROPERTIES = 32775;
constexpr int NEW_GROUP = 32786;
constexpr int NEW_FEED = 32787;
constexpr int CONTEXT_CUT = 32788;
constexpr int CONTEXT_COPY = 32789;
constexpr int CONTEXT_PASTE = 32790;
constexpr int CONTEXT_DELETE = 32791;
constexpr int SORT_BY_NAME = 32792;
// Main menu.
constexpr int UPDATE_ALL = 32777;
constexpr int UPDATE_MARKED = 32778;
constexpr int UPDATE_CURRENT = 32779;
constexpr int OPTIONS = 32780;
constexpr int IMPORT_OPML = 32781;
constexpr int EXPORT_OPML = 32782;
constexpr int MERGE_OPML = 32811;
constexpr int SEND_TO = 32794;
constexpr int SYNC_EPISODES_TO = 32812;
constexpr int HELP_CONTENTS = 32798;
constexpr int PARSE = 32801;
constexpr int REPACK = 32803;
constexpr int FEED_OPTIONS = 32813; // the tree's context menu: the feed's own choices
// The framework's standard commands.
constexpr int FILE_NEW = 57600;
constexpr int FILE_OPEN = 57601;
constexpr int FILE_SAVE = 57603;
constexpr int EDIT_COPY = 57634;
constexpr int EDIT_CUT = 57635;
constexpr int EDIT_PASTE = 57637;
constexpr int EDIT_UNDO = 57643;
constexpr int APP_ABOUT = 57664;
constexpr int APP_EXIT = 57665;
constexpr int NEXT_PANE = 57680;
constexpr int PREV_PANE = 57681;
} // namespace CommandId

} // namespace corvane
