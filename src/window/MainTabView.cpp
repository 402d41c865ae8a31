#include "MainTabView.h"

#include "app/AppViewModel.h"

MainTabView::MainTabView(AppViewModel& appViewModel, Repository& repository, QWidget* parent)
    : QWidget(parent), m_appViewModel(appViewModel), m_repository(repository) {}

MainTabView::~MainTabView() = default;
