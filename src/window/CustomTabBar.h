#pragma once

#include "app/Field.h"
#include "app/TabModel.h"
#include "platform/Cancellable.h"

#include <QWidget>

#include <optional>
#include <vector>

class AppViewModel;
class QKeyEvent;
class TabItemView;

// The tab bar: one item per entry of the app state's tab set, the selected one underlined, the focused one
// framed. It also keeps the Tab-key order of every screen (one table for the whole window) and works the
// focused tab with Return.
class CustomTabBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int itemSpacing = 40;
    static constexpr int sidePadding = 20;
    static constexpr int bottomPadding = 10;

    // `appViewModel` must outlive the bar.
    explicit CustomTabBar(AppViewModel& appViewModel, QWidget* parent = nullptr);
    ~CustomTabBar() override;

    // The field Tab moves to from `current` while `currentTab` is shown; none where the screens decide.
    static std::optional<Field> nextField(std::optional<Field> current, TabType currentTab);
    // The field a tab's screen starts with; none for a tab without a screen.
    static std::optional<Field> firstField(TabType tab);
    // The tab whose bar entry carries `field`; none for a field that is no tab.
    static std::optional<TabType> tabOfField(std::optional<Field> field);

    // The tab identifier the bar frames, or none.
    std::optional<Field> focusedField() const { return m_focusedField; }
    TabItemView* item(int index) const;
    int count() const { return static_cast<int>(m_items.size()); }

    // A click on the entry at `index`: shows its tab and, for Login and New Registration, checks again for
    // users the service no longer knows and for a newer version. Ignored while the window is busy.
    void selectTab(int index);
    // Asks for the first field of the current tab again (when the bar comes back after the update reminder).
    void focusFirstField();

private:
    void showTabs(const std::vector<TabModel>& tabs);
    void showCurrentTab(TabType tab);
    void syncFocus(const std::optional<Field>& field);
    void setBarFocus(std::optional<Field> field);
    bool handleKeyDown(QKeyEvent& event);

    AppViewModel& m_appViewModel;
    std::vector<TabItemView*> m_items;
    TabType m_currentTab;
    std::optional<Field> m_focusedField;
    std::vector<rx::AnyCancellable> m_subscriptions;
};
