// CCorvaneApp: the desktop program's start-up. Runs the single-instance guard (a second copy
// hands over to the running one and ends), shows the splash for just over 2 seconds, builds the
// main frame with its view, shows it and registers this process as the running instance.
//
// Thread: GUI thread; needs a QApplication. Owns the program state (subscriptions, update
// controller), the frame (which owns the view that shows the state), the splash and the guard.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <memory>

namespace corvane {

class CCorvaneView;
class CDlgSplash;
class CProgramState;
class CInstanceChecker;
class CMainFrame;

class CCorvaneApp : public QObject {
    Q_OBJECT
public:
    CCorvaneApp();
    ~CCorvaneApp() override;

    // Start-up. False when the program should end at once (another instance runs: it was told
    // to come forward). showSplash false skips the splash (tests, documentation pictures).
    bool InitInstance(bool showSplash = true);

    CMainFrame* MainFrame() const { return frame.get(); }
    CCorvaneView* View() const { return view; }
    CProgramState* State() const { return state.get(); }
    CInstanceChecker* InstanceChecker() const { return checker.get(); }
    bool SplashVisible() const;

private:
    void CloseSplashWhenDue();

    std::unique_ptr<CInstanceChecker> checker;
    std::unique_ptr<CDlgSplash> splash;
    QElapsedTimer splashShownAt;
    // Before the frame, so that the view goes before the state it shows.
    std::unique_ptr<CProgramState> state;
    std::unique_ptr<CMainFrame> frame;
    CCorvaneView* view = nullptr; // owned by the frame
};

} // namespace corvane
