#include "CustomTabBar.h"

#include "TabItemView.h"

#include "app/AppViewModel.h"
#include "platform/Console.h"
#include "ui/controls/FocusSink.h"
#include "ui/controls/KeyMonitor.h"

#include <QHBoxLayout>
#include <QKeyEvent>

namespace {

bool startsChecks(TabType tab) {
    return tab == TabType::login || tab == TabType::newRegisteration;
}

QString describe(const std::optional<Field>& field) {
    return field ? fieldName(*field) : QStringLiteral("nil");
}

} // namespace

CustomTabBar::CustomTabBar(AppViewModel& appViewModel, QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_currentTab(appViewModel.currentTab.get()) {
    setObjectName(QStringLiteral("customTabBar"));
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(this);
    // Measured between the items' contents: each item's focus frame stands a little outside them.
    const int gap = TabItemView::frameGap;
    layout->setContentsMargins(sidePadding - gap, 0, sidePadding - gap, bottomPadding - gap);
    layout->setSpacing(itemSpacing - 2 * gap);

    // Each subscription hears the current value at once. A published value is stored only after its
    // subscribers ran, so the handlers work on the value they are given, never on the property.
    m_subscriptions.push_back(
        m_appViewModel.tabs.sink([this](const std::vector<TabModel>& tabs) { showTabs(tabs); }));
    m_subscriptions.push_back(m_appViewModel.focusedFieldPublisher.sink(
        [this](const std::optional<Field>& field) { syncFocus(field); }));
    m_subscriptions.push_back(m_appViewModel.currentTab.sink([this](TabType tab) { showCurrentTab(tab); }));

    new KeyMonitor(this, [this](QKeyEvent& event) { return handleKeyDown(event); });
}

CustomTabBar::~CustomTabBar() = default;

TabItemView* CustomTabBar::item(int index) const {
    return index >= 0 && index < count() ? m_items[static_cast<size_t>(index)] : nullptr;
}

void CustomTabBar::showTabs(const std::vector<TabModel>& tabs) {
    auto* layout = static_cast<QHBoxLayout*>(this->layout());
    // The items stay where they can (a tab set replaced from inside a click must not delete the item
    // being clicked); only a shorter set removes some, later.
    while (m_items.size() > tabs.size()) {
        TabItemView* extra = m_items.back();
        m_items.pop_back();
        layout->removeWidget(extra);
        extra->hide();
        extra->deleteLater();
    }
    for (size_t index = 0; index < tabs.size(); ++index) {
        if (index < m_items.size()) {
            m_items[index]->setTab(tabs[index]);
            continue;
        }
        auto* item = new TabItemView(tabs[index], this);
        const int position = static_cast<int>(index);
        connect(item, &TabItemView::clicked, this, [this, position] { selectTab(position); });
        layout->addWidget(item, 0, Qt::AlignVCenter);
        m_items.push_back(item);
    }
    for (TabItemView* item : m_items) {
        item->setSelected(item->tab().type == m_currentTab);
        item->setFrameVisible(item->tab().focus == m_focusedField);
    }
}

void CustomTabBar::showCurrentTab(TabType tab) {
    m_currentTab = tab;
    for (TabItemView* item : m_items)
        item->setSelected(item->tab().type == tab);
    focusFirstField();
}

void CustomTabBar::focusFirstField() {
    if (const auto field = firstField(m_currentTab))
        m_appViewModel.setFocusedField(*field);
}

void CustomTabBar::selectTab(int index) {
    // The overlay of a busy window stops the pointer; a click that still gets here (or arrives through
    // the keyboard) must not switch screens under a running request.
    if (m_appViewModel.isLoading.get() || !item(index))
        return;
    const TabType tab = item(index)->tab().type;
    m_appViewModel.currentTab = tab;
    if (startsChecks(tab)) {
        m_appViewModel.checkUsersStillExist();
        m_appViewModel.fetchVersionInfo();
    }
}

void CustomTabBar::syncFocus(const std::optional<Field>& field) {
    if (tabOfField(field)) {
        setBarFocus(field);
        // A framed tab holds the focus; no text field of the screen may keep the keyboard.
        FocusSink::park(this);
    } else {
        setBarFocus(std::nullopt);
    }
}

void CustomTabBar::setBarFocus(std::optional<Field> field) {
    m_focusedField = field;
    for (TabItemView* item : m_items)
        item->setFrameVisible(item->tab().focus == field);
}

bool CustomTabBar::handleKeyDown(QKeyEvent& event) {
    const std::optional<Field> current = m_appViewModel.focusedFieldPublisher.get();
    if (event.key() == Qt::Key_Tab) {
        console::debugPrint(QStringLiteral("Focus: ") + describe(current));
        if (const auto next = nextField(current, m_currentTab))
            m_appViewModel.setFocusedField(*next);
        else
            setBarFocus(std::nullopt);
        // The screens see Tab as well (the home screen moves on its own fields).
        return false;
    }
    if (isReturnKey(event)) {
        const auto tab = tabOfField(current);
        if (!tab) {
            setBarFocus(std::nullopt);
            return false;
        }
        // Return on a tab only switches the screen; the checks are the click's. Busy: swallowed, like a
        // click on the overlay.
        if (!m_appViewModel.isLoading.get())
            m_appViewModel.currentTab = *tab;
        return true;
    }
    return false;
}

std::optional<TabType> CustomTabBar::tabOfField(std::optional<Field> field) {
    if (!field)
        return std::nullopt;
    switch (*field) {
    case Field::loginTab:
        return TabType::login;
    case Field::regTab:
        return TabType::newRegisteration;
    case Field::helpTab:
        return TabType::help;
    case Field::removeUserTab:
        return TabType::removeUser;
    case Field::logoutTab:
        return TabType::logout;
    default:
        return std::nullopt;
    }
}

std::optional<Field> CustomTabBar::firstField(TabType tab) {
    switch (tab) {
    case TabType::login:
        return Field::loginPassword;
    case TabType::newRegisteration:
        return Field::regOrgEmail;
    case TabType::removeUser:
        return Field::removeYes;
    case TabType::homeScreen:
        return Field::authCode;
    case TabType::help:
    case TabType::logout:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Field> CustomTabBar::nextField(std::optional<Field> current, TabType currentTab) {
    if (!current)
        return std::nullopt;
    switch (*current) {
    case Field::regOrgEmail:
        return Field::regActivationCode;
    case Field::regActivationCode:
        return Field::agreeTerms;
    case Field::agreeTerms:
        return Field::termsLink;
    case Field::termsLink:
        return Field::privacyLink;
    case Field::privacyLink:
        return Field::regSubmitButton;
    case Field::createPin:
        return Field::confirmPin;
    case Field::confirmPin:
        return Field::regSubmitButton;
    case Field::regSubmitButton:
        return Field::loginTab;
    case Field::loginTab:
        return Field::regTab;
    case Field::regTab:
        return Field::helpTab;
    case Field::removeUserTab:
        return Field::helpTab;
    case Field::helpTab:
        switch (currentTab) {
        case TabType::login:
            return Field::loginUsers;
        case TabType::newRegisteration:
            return Field::regOrgEmail;
        case TabType::removeUser:
        case TabType::homeScreen:
            return Field::logoutTab;
        case TabType::help:
        case TabType::logout:
            return std::nullopt;
        }
        return std::nullopt;
    case Field::logoutTab:
        return currentTab == TabType::removeUser ? Field::removeYes : Field::authCode;
    case Field::loginUsers:
        return Field::loginPassword;
    case Field::loginPassword:
        return Field::unlockApp;
    case Field::unlockApp:
        return Field::loginTab;
    case Field::removeYes:
        return Field::removeNo;
    case Field::removeNo:
        return Field::removeUserTab;
    case Field::orgSelection:
        return Field::authenticate;
    case Field::authenticate:
        return Field::handleAuth;
    case Field::twoFactor:
        return Field::authenticateValidation;
    case Field::authenticateValidation:
        return Field::removeUserTab;
    case Field::homeBack:
        return Field::removeUserTab;
    case Field::userDeletetionYes:
        return Field::userDeletionNo;
    case Field::userDeletionNo:
        return Field::loginTab;
    case Field::unfocus:
        return currentTab == TabType::homeScreen ? Field::authCode : Field::loginTab;
    case Field::regPassword:
    case Field::regConfirmPassword:
    case Field::passSubmitButton:
    case Field::loginCode:
    case Field::loginSubmitButton:
    case Field::loginCodeTwo:
    case Field::loginCodeTwoSubmitButton:
    case Field::removeUserConfirmButton:
    case Field::removeUserCancel:
    case Field::authCode:
    case Field::handleAuth:
        return std::nullopt;
    }
    return std::nullopt;
}
