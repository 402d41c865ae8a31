#include "MainWindow.h"

#include "DesktopWindowController.h"
#include "MainTabView.h"

#include "app/AppViewModel.h"
#include "ui/controls/FocusSink.h"
#include "ui/controls/SemanticColor.h"

#include <QVBoxLayout>

MainWindow::MainWindow(AppViewModel& appViewModel, Repository& repository, QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_mainTabView(nullptr)
    , m_windowController(std::make_unique<DesktopWindowController>(*this)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("QuorvaleID"));
    setFixedSize(windowWidth, windowHeight);

    setPalette(windowPalette(palette()));
    setAutoFillBackground(true);

    // Made first, so that the shell's first focus request finds it.
    new FocusSink(this);
    m_mainTabView = new MainTabView(appViewModel, repository, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_mainTabView);

    m_appViewModel.setWindowController(m_windowController.get());
}

MainWindow::~MainWindow() {
    m_appViewModel.setWindowController(nullptr);
}

bool MainWindow::focusNextPrevChild(bool) {
    // Tab follows the tab bar's order of fields, not Qt's chain of focusable widgets.
    return true;
}
