# The task pane, its hover buttons, Send To, the progress and Options dialogs, and their
# pictures; part of corvane_gui. Included from this folder's CMakeLists.txt.
target_sources(corvane_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/DlgOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DlgProgress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HoverButton.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SendTo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TaskBar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TaskBarSetup.cpp
)
set(corvane_taskpane_dir "${PROJECT_SOURCE_DIR}/resources/taskpane")
qt_add_resources(corvane_gui corvane_taskpane_resources
  PREFIX "/taskpane"
  BASE "${corvane_taskpane_dir}"
  FILES
    ${corvane_taskpane_dir}/background.svg
    ${corvane_taskpane_dir}/update-all.svg
    ${corvane_taskpane_dir}/update-marked.svg
    ${corvane_taskpane_dir}/update-current.svg
    ${corvane_taskpane_dir}/import-opml.svg
    ${corvane_taskpane_dir}/export-opml.svg
    ${corvane_taskpane_dir}/send-to.svg
    ${corvane_taskpane_dir}/sync-off.svg
    ${corvane_taskpane_dir}/sync-on.svg
    ${corvane_taskpane_dir}/progress.svg
    ${corvane_taskpane_dir}/options.svg
)
