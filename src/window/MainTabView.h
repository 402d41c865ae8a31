#pragma once

#include <QWidget>

class AppViewModel;
class Repository;

// The window shell: background, the update reminder or the main column (logo, tab bar, screen of the
// current tab), the version label and, while busy, the loading overlay.
class MainTabView : public QWidget {
    Q_OBJECT

public:
    MainTabView(AppViewModel& appViewModel, Repository& repository, QWidget* parent = nullptr);
    ~MainTabView() override;

private:
    AppViewModel& m_appViewModel;
    Repository& m_repository;
};
