#pragma once

#include "app/LaunchConfigurationState.h"
#include "app/TabModel.h"
#include "platform/Cancellable.h"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class AppViewModel;
class CustomTabBar;
class LoadingOverlay;
class QLabel;
class QVBoxLayout;
class Repository;

// The window's content, in layers from the back: the background; the update reminder or the main column
// (logo, tab bar, the screen of the current tab); the version label; while busy, the loading overlay.
// It also keeps the idle logout away while the mouse moves or keys are pressed anywhere in the application.
class MainTabView : public QWidget {
    Q_OBJECT

public:
    static constexpr int logoWidth = 150;
    static constexpr int logoSidePadding = 30;
    static constexpr int logoTopPadding = 10;
    static constexpr int tabBarTrailingPadding = 16;
    static constexpr int versionLabelRightInset = 25;
    static constexpr int versionLabelBottomInset = 30;

    // `appViewModel` and `repository` must outlive the view.
    MainTabView(AppViewModel& appViewModel, Repository& repository, QWidget* parent = nullptr);
    ~MainTabView() override;

    CustomTabBar& tabBar() const { return *m_tabBar; }
    // The screen shown under the header, or none while the update reminder stands in for everything.
    QWidget* currentScreen() const { return m_screen; }
    // The update reminder while it shows.
    QWidget* versionReminder() const { return m_reminder; }
    QWidget* mainColumn() const { return m_mainColumn; }
    QLabel* versionLabel() const { return m_versionLabel; }
    LoadingOverlay* loadingOverlay() const { return m_overlay; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleRefresh();
    void refresh();
    void showLaunchState(const std::optional<LaunchConfigurationState>& state);
    void showTab(TabType tab);
    void dropScreen();
    void showLoading(bool loading);
    void layOutLayers();

    AppViewModel& m_appViewModel;
    Repository& m_repository;
    QWidget* m_mainColumn;
    CustomTabBar* m_tabBar;
    QVBoxLayout* m_screenArea;
    QPointer<QWidget> m_screen;
    std::optional<TabType> m_screenTab;
    // Another tab was chosen since the screen was made, though it may be its tab again by now (Help
    // returns to Login): the screen left, so it comes back fresh.
    bool m_screenLeft = false;
    QPointer<QWidget> m_reminder;
    QLabel* m_versionLabel;
    LoadingOverlay* m_overlay;
    bool m_refreshPending = false;
    std::vector<rx::AnyCancellable> m_subscriptions;
};
