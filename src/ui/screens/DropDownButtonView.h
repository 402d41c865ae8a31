#pragma once

#include "api/AuthResponse.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QMenu;
class QPushButton;
class QStackedLayout;

// The chooser of the users enrolled on this device: one user shows as plain text, several in a pop-up
// menu. Entries are told apart by their position, so two users shown by the same text are still two.
// The chooser keeps no choice of its own: the screen sets what is chosen and hears what the user picks.
class DropDownButtonView : public QWidget {
    Q_OBJECT

public:
    explicit DropDownButtonView(QWidget* parent = nullptr);

    // The text a user is shown by: the display e-mail, else the e-mail, else nothing.
    static QString userKey(const std::optional<AuthResponse>& user);

    void setUserOptions(std::vector<std::optional<AuthResponse>> userOptions);
    const std::vector<std::optional<AuthResponse>>& userOptions() const { return m_userOptions; }
    void setSelectedOption(const std::optional<AuthResponse>& selectedOption);

    // Called with the position of the entry the user picked from the menu.
    void setOnChoose(std::function<void(qsizetype position)> onChoose) { m_onChoose = std::move(onChoose); }
    // The menu entry's action: an entry that holds a user is passed on, an empty one changes nothing.
    void chooseUser(qsizetype position);

    // The text shown for the chosen user.
    QString shownText() const;
    QMenu* menu() const { return m_menu; }
    bool showsMenu() const;

private:
    void rebuildMenu();

    std::vector<std::optional<AuthResponse>> m_userOptions;
    std::optional<AuthResponse> m_selectedOption;
    std::function<void(qsizetype)> m_onChoose;
    QStackedLayout* m_choice = nullptr;
    QLabel* m_single = nullptr;
    QPushButton* m_menuButton = nullptr;
    QMenu* m_menu = nullptr;
};
