#include "PolicyCheckView.h"

#include "app/AppViewModel.h"
#include "ui/controls/AppFont.h"
#include "ui/controls/Artwork.h"
#include "ui/controls/ButtonLook.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/KeyDispatcher.h"
#include "ui/controls/KeyMonitor.h"
#include "ui/controls/SemanticColor.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace {

constexpr qreal textSize = 10;
constexpr int checkBoxTrailingPadding = 10;
constexpr int rowBottomPadding = 10;
constexpr int checkBoxSide = 18;

QLabel* sentencePart(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(appFont(FontFace::regular, textSize));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, namedColor(QStringLiteral("PureWhite")));
    label->setPalette(palette);
    return label;
}

QPushButton* link(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    prepareStyledButton(*button, appFont(FontFace::medium, textSize));
    button->setFlat(true);
    button->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; padding: 0; color: %1; }")
            .arg(cssColor(namedColor(QStringLiteral("Yellow")))));
    return button;
}

} // namespace

const QString PolicyCheckView::termsOfServiceURL =
    QStringLiteral("https://www.quorvale.com/terms-of-service/");
const QString PolicyCheckView::privacyPolicyURL = QStringLiteral("https://www.quorvale.com/privacy-policy/");

PolicyCheckView::PolicyCheckView(rx::Published<bool>& isChecked, AppViewModel& appViewModel, QWidget* parent)
    : QWidget(parent)
    , m_isChecked(isChecked)
    , m_appViewModel(appViewModel)
    , m_checkBox(new QPushButton(this)) {
    setObjectName(QStringLiteral("policyCheckView"));
    m_checkBox->setObjectName(fieldName(Field::agreeTerms));
    prepareStyledButton(*m_checkBox, appFont(FontFace::regular, textSize));
    m_checkBox->setFlat(true);
    m_checkBox->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; padding: 0; }"));
    m_checkBox->setIconSize(QSize(checkBoxSide, checkBoxSide));
    m_checkBox->setFixedSize(checkBoxSide, checkBoxSide);
    connect(m_checkBox, &QPushButton::clicked, this, &PolicyCheckView::toggle);

    QPushButton* terms = link(tr(" Terms of Service "), fieldName(Field::termsLink), this);
    QPushButton* privacy = link(tr(" Privacy Policy "), fieldName(Field::privacyLink), this);
    connect(terms, &QPushButton::clicked, this, [] { openLink(termsOfServiceURL); });
    connect(privacy, &QPushButton::clicked, this, [] { openLink(privacyPolicyURL); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, rowBottomPadding);
    layout->addWidget(m_checkBox, 0, Qt::AlignVCenter);
    layout->addSpacing(checkBoxTrailingPadding);
    layout->addWidget(sentencePart(tr("I agree to the"), this), 0, Qt::AlignVCenter);
    layout->addWidget(terms, 0, Qt::AlignVCenter);
    layout->addWidget(sentencePart(tr("and the"), this), 0, Qt::AlignVCenter);
    layout->addWidget(privacy, 0, Qt::AlignVCenter);
    layout->addStretch();

    FocusFollower::frame(appViewModel, Field::agreeTerms, m_checkBox);
    FocusFollower::frame(appViewModel, Field::termsLink, terms);
    FocusFollower::frame(appViewModel, Field::privacyLink, privacy);

    m_isChecked
        .sink([this](bool checked) {
            m_checkBox->setIcon(artworkIcon(checked ? QStringLiteral("boxChecked") : QStringLiteral("box"),
                                            QSize(checkBoxSide, checkBoxSide)));
        })
        .store(m_subscriptions);

    new KeyMonitor(this, [this](QKeyEvent& event) { return handleReturnKey(&event); });
}

PolicyCheckView::~PolicyCheckView() = default;

void PolicyCheckView::openLink(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
        QDesktopServices::openUrl(url);
}

void PolicyCheckView::toggle() {
    if (m_appViewModel.isLoading.get())
        return;
    m_isChecked = !m_isChecked.get();
}

bool PolicyCheckView::handleReturnKey(QKeyEvent* event) {
    if (!isReturnKey(*event) || m_appViewModel.isLoading.get())
        return false;
    const std::optional<Field> focused = m_appViewModel.focusedFieldPublisher.get();
    if (focused == Field::agreeTerms)
        toggle();
    else if (focused == Field::termsLink)
        openLink(termsOfServiceURL);
    else if (focused == Field::privacyLink)
        openLink(privacyPolicyURL);
    // The screen and the tab bar see Return as well.
    return false;
}
