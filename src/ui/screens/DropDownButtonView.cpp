#include "DropDownButtonView.h"

#include "TextLook.h"

#include "app/Field.h"
#include "ui/controls/ButtonLook.h"
#include "ui/controls/RequiredMark.h"
#include "ui/controls/SemanticColor.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStackedLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int chooserWidth = 312;
constexpr int bottomPadding = 20;
constexpr int headingBottomPadding = 10;
constexpr int requiredMarkRaise = 2;

} // namespace

DropDownButtonView::DropDownButtonView(QWidget* parent)
    : QWidget(parent) {
    setObjectName(fieldName(Field::loginUsers));
    setFixedWidth(chooserWidth);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, bottomPadding);

    auto* heading = new QHBoxLayout;
    heading->setContentsMargins(0, 0, 0, headingBottomPadding);
    const QColor darkGray = namedColor(QStringLiteral("DarkGray"));
    const QColor lightGray = namedColor(QStringLiteral("LightGray"));
    heading->addWidget(new RequiredMark(this, requiredMarkRaise));
    heading->addWidget(makeText(tr("Choose User"), FontFace::regular, 13, darkGray, this));
    heading->addStretch();
    column->addLayout(heading);

    m_choice = new QStackedLayout;
    m_single = makeText(QString(), FontFace::regular, 12, lightGray, this);
    m_single->setObjectName(QStringLiteral("chosenUser"));
    m_menuButton = new QPushButton(this);
    m_menuButton->setObjectName(QStringLiteral("userMenu"));
    m_menuButton->setFocusPolicy(Qt::NoFocus);
    m_menuButton->setFlat(true);
    m_menuButton->setFont(appFont(FontFace::medium, 14));
    m_menuButton->setCursor(Qt::PointingHandCursor);
    m_menuButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_menu = new QMenu(m_menuButton);
    m_menu->setFont(appFont(FontFace::regular, 12));
    // The entries: yellow capsules, a little see-through; grey and opaque only while pressed, so the entry
    // under the pointer (or chosen with the arrow keys) keeps its yellow.
    QColor entry(Qt::yellow);
    entry.setAlphaF(0.75);
    m_menu->setStyleSheet(QStringLiteral("QMenu { background: %1; border: none; padding: 4px; }"
                                         "QMenu::item { color: %2; background: %3; border-radius: 10px;"
                                         " padding: 4px 12px; margin: 2px; }"
                                         "QMenu::item:selected { background: %3; }"
                                         "QMenu::item:pressed { background: %4; }")
                              .arg(cssColor(namedColor(QStringLiteral("mainBg"))), cssColor(lightGray),
                                   cssColor(entry), cssColor(QColor(Qt::gray))));
    m_menuButton->setMenu(m_menu);
    m_choice->addWidget(m_single);
    m_choice->addWidget(m_menuButton);
    column->addLayout(m_choice);

    auto* underline = new QFrame(this);
    underline->setFixedHeight(1);
    underline->setAutoFillBackground(true);
    QPalette linePalette = underline->palette();
    linePalette.setColor(QPalette::Window, darkGray);
    underline->setPalette(linePalette);
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
    const QString indicator = m_userOptions.empty() ? QStringLiteral("QPushButton::menu-indicator { image: none; }")
                                                    : QString();
    m_menuButton->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; text-align: left;"
                                               " padding: 0px; }")
                                    .arg(cssColor(namedColor(QStringLiteral("LightGray")))) +
                                indicator);
}
