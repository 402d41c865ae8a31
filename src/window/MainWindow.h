#pragma once

#include <QWidget>

#include <memory>

class AppViewModel;
class DesktopWindowController;
class MainTabView;
class Repository;

// The program's one window: fixed 800 x 480, dark, titled "QuorvaleID", with the window manager's own
// decoration (a frameless window would lose moving and minimising on Linux). It shows the window shell and,
// for as long as it exists, is the window the app state minimises, restores and opens links from (it
// installs its WindowController on the AppViewModel and removes it when it goes).
class MainWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int windowWidth = 800;
    static constexpr int windowHeight = 480;

    // `appViewModel` and `repository` are not owned and must outlive the window.
    MainWindow(AppViewModel& appViewModel, Repository& repository, QWidget* parent = nullptr);
    ~MainWindow() override;

    MainTabView& mainTabView() const { return *m_mainTabView; }

protected:
    bool focusNextPrevChild(bool next) override;

private:
    AppViewModel& m_appViewModel;
    MainTabView* m_mainTabView;
    std::unique_ptr<DesktopWindowController> m_windowController;
};
