# Tests of the task pane, Send To, the progress and Options dialogs; included from this folder's
# CMakeLists.txt. TaskBarTest.cpp has the main function (it makes the QApplication), and nothing
# here runs corvane-cli, so the program is not a dependency.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(test_ui_taskpane
  ${CMAKE_CURRENT_LIST_DIR}/TaskBarTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DlgOptionsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DlgProgressTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SendToTest.cpp
)
target_link_libraries(test_ui_taskpane PRIVATE corvane_gui corvane_test_support Qt6::Test
  GTest::gtest)
target_compile_definitions(test_ui_taskpane PRIVATE
  CORVANE_TEST_DATA_DIR="${CORVANE_TEST_DATA_DIR}"
  CORVANE_CORPORA_DIR="${CORVANE_CORPORA_DIR}")
gtest_discover_tests(test_ui_taskpane DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;no_proxy=*;NO_PROXY=*;http_proxy=;https_proxy=")
