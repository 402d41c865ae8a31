#include "MainWindow.h"

#include "DesktopWindowController.h"
#include "MainTabView.h"

#include "app/AppViewModel.h"

#include <QVBoxLayout>

MainWindow::MainWindow(AppViewModel& appViewModel, Repository& repository, QWidget* parent)
    : QWidget(parent), m_appViewModel(appViewModel),
      m_mainTabView(new MainTabView(appViewModel, repository, this)),
      m_windowController(std::make_unique<DesktopWindowController>(*this)) {
    setWindowTitle(QStringLiteral("QuorvaleID"));
    setFixedSize(windowWidth, windowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_mainTabView);

    m_appViewModel.setWindowController(m_windowController.get());
}

MainWindow::~MainWindow() {
    m_appViewModel.setWindowController(nullptr);
}
