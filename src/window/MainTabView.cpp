#include "MainTabView.h"

#include "CustomTabBar.h"
#include "LoadingOverlay.h"
#include "ScreenFactory.h"

#include "api/Environment.h"
#include "app/AppViewModel.h"
#include "ui/controls/Artwork.h"
#include "ui/controls/SemanticColor.h"
#include "ui/screens/VersionReminderView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace {

bool showsReminder(const std::optional<LaunchConfigurationState>& state) {
    return state == LaunchConfigurationState::normalUpdate || state == LaunchConfigurationState::forceUpgrade;
}

// Hides a widget at once and deletes it once the event loop runs: it may be the widget whose own handler
// led here (a click on "Remind me later", an unlock that switches to the home screen).
void retire(QWidget* widget) {
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

// The logo scaled to the header's width, as high as its proportions make it.
QPixmap logoPixmap(qreal scale) {
    const QSizeF natural = QSvgRenderer(QStringLiteral(":/artwork/logoHeader.svg")).defaultSize().toSizeF();
    if (natural.isEmpty())
        return {};
    const int height = qRound(MainTabView::logoWidth * natural.height() / natural.width());
    return artwork(QStringLiteral("logoHeader"), QSize(MainTabView::logoWidth, height), {}, scale);
}

} // namespace

MainTabView::MainTabView(AppViewModel& appViewModel, Repository& repository, QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_repository(repository)
    , m_mainColumn(new QWidget(this))
    , m_tabBar(new CustomTabBar(appViewModel, m_mainColumn))
    , m_screenArea(new QVBoxLayout)
    , m_versionLabel(new QLabel(this))
    , m_overlay(new LoadingOverlay(this)) {
    setObjectName(QStringLiteral("mainTabView"));
    m_mainColumn->setObjectName(QStringLiteral("mainColumn"));

    auto* logo = new QLabel(m_mainColumn);
    logo->setObjectName(QStringLiteral("logoHeader"));
    logo->setPixmap(logoPixmap(devicePixelRatioF()));

    auto* header = new QHBoxLayout;
    header->setContentsMargins(logoSidePadding, logoTopPadding, tabBarTrailingPadding, 0);
    header->setSpacing(0);
    header->addWidget(logo, 0, Qt::AlignBottom);
    header->addSpacing(logoSidePadding);
    header->addStretch(1);
    header->addWidget(m_tabBar, 0, Qt::AlignBottom);

    m_screenArea->setContentsMargins(0, 0, 0, 0);
    auto* column = new QVBoxLayout(m_mainColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(header);
    column->addLayout(m_screenArea, 1);

    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setText(BuildConfiguration::shared().versionLabel());
    m_versionLabel->setFont(QApplication::font());
    QPalette labelPalette = m_versionLabel->palette();
    labelPalette.setColor(QPalette::WindowText, namedColor(QStringLiteral("DarkGray")));
    m_versionLabel->setPalette(labelPalette);
    m_versionLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_overlay->hide();

    // What shows is rebuilt once the app state has stored its new value: a screen or the reminder made
    // while a value is being delivered would read the old one. The first build happens at once.
    refresh();
    m_subscriptions.push_back(m_appViewModel.appConfigState.sink(
        [this](const std::optional<LaunchConfigurationState>&) { scheduleRefresh(); }));
    m_subscriptions.push_back(m_appViewModel.currentTab.sink([this](TabType tab) {
        if (tab != m_screenTab)
            m_screenLeft = true;
        scheduleRefresh();
    }));
    m_subscriptions.push_back(m_appViewModel.isLoading.sink([this](bool loading) { showLoading(loading); }));

    // The one activity hook of the window's life: any movement or key press in the application postpones
    // the idle logout.
    qApp->installEventFilter(this);
    layOutLayers();
}

MainTabView::~MainTabView() {
    qApp->removeEventFilter(this);
}

void MainTabView::scheduleRefresh() {
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, &MainTabView::refresh, Qt::QueuedConnection);
}

void MainTabView::refresh() {
    m_refreshPending = false;
    showLaunchState(m_appViewModel.appConfigState.get());
    showTab(m_appViewModel.currentTab.get());
}

void MainTabView::showLaunchState(const std::optional<LaunchConfigurationState>& state) {
    if (showsReminder(state)) {
        if (!m_reminder) {
            dropScreen();
            m_mainColumn->hide();
            m_reminder = new VersionReminderView(m_appViewModel, this);
            m_reminder->show();
        }
    } else if (m_reminder) {
        retire(m_reminder);
        m_reminder = nullptr;
        m_mainColumn->show();
        // The tab bar and the screen come back: the screen starts afresh on its first field.
        m_tabBar->focusFirstField();
    }
    layOutLayers();
}

void MainTabView::showTab(TabType tab) {
    if (m_reminder)
        return;
    // The same tab again keeps its screen and the screen's view model.
    if (m_screen && m_screenTab == tab && !m_screenLeft)
        return;
    dropScreen();
    m_screen = createScreen(tab, m_appViewModel, m_repository, m_mainColumn);
    m_screenTab = tab;
    m_screenLeft = false;
    m_screenArea->addWidget(m_screen);
    m_screen->show();
}

void MainTabView::dropScreen() {
    if (m_screen) {
        m_screenArea->removeWidget(m_screen);
        retire(m_screen);
    }
    m_screen = nullptr;
    m_screenTab.reset();
}

void MainTabView::showLoading(bool loading) {
    m_overlay->setVisible(loading);
    layOutLayers();
}

void MainTabView::layOutLayers() {
    m_mainColumn->setGeometry(rect());
    if (m_reminder)
        m_reminder->setGeometry(rect());
    m_versionLabel->adjustSize();
    m_versionLabel->move(width() - m_versionLabel->width() - versionLabelRightInset,
                         height() - m_versionLabel->height() - versionLabelBottomInset);
    m_overlay->setGeometry(rect());
    m_versionLabel->raise();
    m_overlay->raise();
}

void MainTabView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), namedColor(QStringLiteral("tabBgBlack")));
}

void MainTabView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOutLayers();
}

bool MainTabView::eventFilter(QObject* watched, QEvent* event) {
    // The window system's movement or key press reaches the window object once, before Qt hands it to any
    // widget, and whether or not a widget tracks the mouse or takes the key.
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseMove || type == QEvent::KeyPress) && watched->isWindowType())
        m_appViewModel.restartIdleTimer();
    return QWidget::eventFilter(watched, event);
}
