#include "DropDownButtonView.h"

#include "app/Field.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int chooserWidth = 312;
constexpr int bottomPadding = 20;
constexpr int headingBottomPadding = 10;

} // namespace

DropDownButtonView::DropDownButtonView(QWidget* parent)
    : QWidget(parent) {
    setObjectName(fieldName(Field::loginUsers));
    setFixedWidth(chooserWidth);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, bottomPadding);

    auto* heading = new QHBoxLayout;
    heading->setContentsMargins(0, 0, 0, headingBottomPadding);
    auto* title = new QLabel(tr("Choose User"), this);
    heading->addWidget(title);
    heading->addStretch();
    column->addLayout(heading);

    m_choice = new QStackedLayout;
    m_single = new QLabel(this);
    m_single->setObjectName(QStringLiteral("chosenUser"));
    m_menuButton = new QToolButton(this);
    m_menuButton->setObjectName(QStringLiteral("userMenu"));
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setFocusPolicy(Qt::NoFocus);
    m_menuButton->setAutoRaise(true);
    m_menu = new QMenu(m_menuButton);
    m_menuButton->setMenu(m_menu);
    m_choice->addWidget(m_single);
    m_choice->addWidget(m_menuButton);
    column->addLayout(m_choice);

    auto* underline = new QFrame(this);
    underline->setFixedHeight(1);
    column->addWidget(underline);

    rebuildMenu();
}

QString DropDownButtonView::userKey(const std::optional<AuthResponse>& user) {
    if (!user)
        return QString();
    if (user->displayEmail)
        return *user->displayEmail;
    return user->email.value_or(QString());
}

void DropDownButtonView::setUserOptions(std::vector<std::optional<AuthResponse>> userOptions) {
    m_userOptions = std::move(userOptions);
    rebuildMenu();
}

void DropDownButtonView::setSelectedOption(const std::optional<AuthResponse>& selectedOption) {
    m_selectedOption = selectedOption;
    const QString text = userKey(m_selectedOption);
    m_single->setText(text);
    m_menuButton->setText(text);
}

void DropDownButtonView::chooseUser(qsizetype position) {
    if (position < 0 || position >= qsizetype(m_userOptions.size()) || !m_userOptions[size_t(position)])
        return;
    if (m_onChoose)
        m_onChoose(position);
}

QString DropDownButtonView::shownText() const {
    return showsMenu() ? m_menuButton->text() : m_single->text();
}

bool DropDownButtonView::showsMenu() const {
    return m_choice->currentWidget() == m_menuButton;
}

void DropDownButtonView::rebuildMenu() {
    m_menu->clear();
    for (qsizetype position = 0; position < qsizetype(m_userOptions.size()); ++position) {
        QAction* entry = m_menu->addAction(userKey(m_userOptions[size_t(position)]));
        connect(entry, &QAction::triggered, this, [this, position] { chooseUser(position); });
    }
    // One user cannot be changed or cleared here, so it shows as text.
    m_choice->setCurrentWidget(m_userOptions.size() == 1 ? static_cast<QWidget*>(m_single) : m_menuButton);
    m_menuButton->setArrowType(m_userOptions.empty() ? Qt::NoArrow : Qt::DownArrow);
}
