#include "HomeScreenView.h"

#include "ScreenPadding.h"
#include "TextLook.h"

#include "app/AppViewModel.h"
#include "flows/FlowSupport.h"
#include "flows/HomeViewModel.h"
#include "platform/Console.h"
#include "ui/controls/ButtonLook.h"
#include "ui/controls/CustomTextField.h"
#include "ui/controls/ElevatedButtonStyle.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/KeyMonitor.h"
#include "ui/controls/ListButtonStyle.h"
#include "ui/controls/OTPFieldView.h"
#include "ui/controls/SemanticColor.h"
#include "ui/controls/TooltipBubble.h"
#include "ui/controls/UnderlinedTextField.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace {

constexpr int leadingPadding = 40;
constexpr int greetingMaxWidth = 320;
constexpr int greetingBottomPadding = 3;
constexpr int codeFieldBottomPadding = 20;
constexpr int listBorder = 2;
constexpr int listPadding = 3;
constexpr int listBottomPadding = 10;
constexpr int rowPadding = 5;
constexpr int secondCodeLength = 2;
constexpr int secondCodeWidth = 80;

bool hasLength(const QString& text, size_t length) {
    return flows::userPerceivedCharacters(text).size() == length;
}

// The value of the link's first query item named exactly "id"; none when there is no such item or it
// carries no value to send.
std::optional<QString> linkCode(const QUrl& url) {
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto& [name, value] : items) {
        if (name == QStringLiteral("id"))
            return value.isEmpty() ? std::nullopt : std::optional(value);
    }
    return std::nullopt;
}

QString ready(bool isReady) {
    return isReady ? QStringLiteral("PureBlack") : QStringLiteral("DarkGray");
}

} // namespace

HomeScreenView::HomeScreenView(AppViewModel& appViewModel, std::unique_ptr<HomeViewModel> viewModel,
                               QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_viewModel(std::move(viewModel)) {
    setObjectName(QStringLiteral("HomeScreenView"));
    fillBackground(*this, QStringLiteral("mainBg"));
    const QColor darkGray = namedColor(QStringLiteral("DarkGray"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(leadingPadding, 0, 0, 0);
    root->setSpacing(0);
    m_pages = new QStackedWidget(this);
    root->addWidget(m_pages);

    // The code entry, or the choice of organisation.
    auto* main = new QWidget(m_pages);
    main->setObjectName(QStringLiteral("codeEntry"));
    auto* mainColumn = new QVBoxLayout(main);
    mainColumn->setContentsMargins(0, 0, 0, 0);
    m_greeting = makeText(QString(), FontFace::medium, 15, namedColor(QStringLiteral("LightGray")), main);
    m_greeting->setObjectName(QStringLiteral("greeting"));
    m_greeting->setMaximumWidth(greetingMaxWidth);
    m_greetingTooltip = new TooltipBubble(QString(), m_greeting, std::nullopt, TooltipBubble::Side::top);
    mainColumn->addWidget(m_greeting);
    mainColumn->addSpacing(greetingBottomPadding);

    m_organizationTitle = makeText(tr("Select your organization"), FontFace::medium, 14, darkGray, main);
    mainColumn->addWidget(m_organizationTitle);
    m_organizationList = new QWidget(main);
    m_organizationList->setObjectName(fieldName(Field::orgSelection));
    // Under a style sheet the palette's fill no longer shows, so the sheet draws the fill with the border.
    m_organizationList->setAttribute(Qt::WA_StyledBackground);
    m_organizationList->setStyleSheet(
        QStringLiteral("#%1 { background: %2; border: %3px solid %4; }")
            .arg(fieldName(Field::orgSelection), cssColor(namedColor(QStringLiteral("BlueGray"))))
            .arg(listBorder)
            .arg(cssColor(namedColor(QStringLiteral("BlueGreyLite")))));
    m_organizationRows = new QVBoxLayout(m_organizationList);
    m_organizationRows->setContentsMargins(listPadding + listBorder, listPadding + listBorder,
                                           listPadding + listBorder, listPadding + listBorder);
    m_organizationRows->setSpacing(0);
    FocusFollower::frame(m_appViewModel, Field::orgSelection, m_organizationList);
    mainColumn->addWidget(m_organizationList, 0, Qt::AlignLeft);
    m_organizationSpacer = new QWidget(main);
    m_organizationSpacer->setFixedHeight(listBottomPadding);
    mainColumn->addWidget(m_organizationSpacer);

    m_codeField = new UnderlinedTextField(tr("Enter Code"), TextFieldType::enterCode, main);
    m_codeField->setObjectName(fieldName(Field::authCode));
    connect(m_codeField, &UnderlinedTextField::textWritten, this, [this](const QString& text) {
        if (text != m_viewModel->codeValue.get())
            m_viewModel->codeValue = text;
    });
    m_codeField->setOnTap([this] {
        if (m_appViewModel.focusedFieldPublisher.get() != Field::authCode)
            m_appViewModel.setFocusedField(Field::authCode);
    });
    FocusFollower::keyboard(m_appViewModel, Field::authCode, m_codeField->field());
    mainColumn->addWidget(m_codeField);
    m_codeFieldSpacer = new QWidget(main);
    m_codeFieldSpacer->setFixedHeight(codeFieldBottomPadding);
    mainColumn->addWidget(m_codeFieldSpacer);

    auto* buttons = new QVBoxLayout;
    m_authenticateButton = new QPushButton(tr("Authenticate"), main);
    m_authenticateButton->setObjectName(fieldName(Field::authenticate));
    connect(m_authenticateButton, &QPushButton::clicked, this, &HomeScreenView::authenticate);
    FocusFollower::frame(m_appViewModel, Field::authenticate, m_authenticateButton);
    buttons->addWidget(m_authenticateButton, 0, Qt::AlignRight);
    m_backButton = new QPushButton(tr("Back"), main);
    m_backButton->setObjectName(fieldName(Field::homeBack));
    m_backButton->setFlat(true);
    m_backButton->setFocusPolicy(Qt::NoFocus);
    m_backButton->setCursor(Qt::PointingHandCursor);
    QFont backFont = appFont(FontFace::regular, 13);
    backFont.setUnderline(true);
    m_backButton->setFont(backFont);
    m_backButton->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 2px 6px; }")
                                    .arg(cssColor(namedColor(QStringLiteral("Yellow")))));
    connect(m_backButton, &QPushButton::clicked, this, [this] {
        if (!isBusy())
            resetOrganizationChoice();
    });
    FocusFollower::frame(m_appViewModel, Field::homeBack, m_backButton);
    buttons->addWidget(m_backButton, 0, Qt::AlignRight);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->addLayout(buttons);
    buttonRow->addStretch();
    mainColumn->addLayout(buttonRow);
    m_status = new ErrorMessageView(main);
    m_status->setObjectName(QStringLiteral("statusLine"));
    mainColumn->addWidget(m_status);
    // All the room left goes below, none to the controls: they stay put when the status line changes.
    mainColumn->addStretch(1);
    m_pages->addWidget(main);

    // The second code.
    auto* second = new QWidget(m_pages);
    second->setObjectName(QStringLiteral("secondCode"));
    auto* secondColumn = new QVBoxLayout(second);
    secondColumn->setContentsMargins(0, 0, 0, 0);
    secondColumn->addWidget(makeText(tr("Enter 2FA Code"), FontFace::bold, 16, darkGray, second));
    m_secondCodeField = new OTPFieldView(secondCodeLength, false, second);
    m_secondCodeField->setObjectName(fieldName(Field::twoFactor));
    m_secondCodeField->setFixedWidth(secondCodeWidth);
    auto* secondCodeBoxes = new QWidget(second);
    auto* boxesPadding = new QVBoxLayout(secondCodeBoxes);
    boxesPadding->setContentsMargins(platformDefaultPadding, platformDefaultPadding, platformDefaultPadding,
                                     platformDefaultPadding);
    boxesPadding->addWidget(m_secondCodeField);
    connect(m_secondCodeField, &OTPFieldView::otpChanged, this, [this](const QString& otp) {
        if (otp != m_viewModel->otpValue.get())
            m_viewModel->otpValue = otp;
    });
    m_secondCodeField->setOnTap([this] {
        if (m_appViewModel.focusedFieldPublisher.get() != Field::twoFactor)
            m_appViewModel.setFocusedField(Field::twoFactor);
    });
    FocusFollower::keyboard(m_appViewModel, Field::twoFactor, m_secondCodeField);
    secondColumn->addWidget(secondCodeBoxes, 0, Qt::AlignLeft);
    m_secondCodeButton = new QPushButton(tr("Authenticate"), second);
    m_secondCodeButton->setObjectName(fieldName(Field::authenticateValidation));
    connect(m_secondCodeButton, &QPushButton::clicked, this, &HomeScreenView::submitSecondCode);
    FocusFollower::frame(m_appViewModel, Field::authenticateValidation, m_secondCodeButton);
    secondColumn->addWidget(m_secondCodeButton);
    m_secondStatus = new ErrorMessageView(second);
    m_secondStatus->setObjectName(QStringLiteral("secondCodeStatusLine"));
    secondColumn->addWidget(m_secondStatus);
    secondColumn->addStretch(1);
    m_pages->addWidget(second);

    subscribe();
    m_keyMonitor = new KeyMonitor(this, [this](QKeyEvent& event) { return handleKeyDown(event); });
    refresh();
}

HomeScreenView::~HomeScreenView() = default;

void HomeScreenView::subscribe() {
    HomeViewModel& model = *m_viewModel;
    // Each handler is told of a write before it lands, so it works from the value it is given.
    m_subscriptions.push_back(model.show2Fa.sink([this](bool value) {
        if (!value)
            return;
        m_viewModel->codeValue = QString();
        m_viewModel->otpValue = QString();
        // The second-code view takes the focus when it comes up.
        m_appViewModel.setFocusedField(Field::twoFactor);
    }));
    m_subscriptions.push_back(model.showSucces.sink([this](bool value) {
        if (!value)
            return;
        m_viewModel->codeValue = QString();
        if (m_viewModel->show2Fa.get())
            m_viewModel->otpValue = QString();
    }));
    m_subscriptions.push_back(m_appViewModel.isLogout.sink([this](bool value) {
        if (value)
            m_viewModel->codeValue = QString();
    }));
    m_subscriptions.push_back(m_appViewModel.focusedFieldPublisher.sink(
        [this](const std::optional<Field>& value) { handleFocusChange(value); }));
    // The link is taken once its write has landed, so that clearing it is not undone by that write.
    m_subscriptions.push_back(m_appViewModel.deepLink.sink([this](const std::optional<QUrl>&) {
        QMetaObject::invokeMethod(
            this, [this] { handleDeepLink(m_appViewModel.deepLink.get()); }, Qt::QueuedConnection);
    }));
    // A link that came while a request was out is taken when the request is done.
    m_subscriptions.push_back(m_appViewModel.isLoading.sink([this](bool value) {
        if (!value)
            QMetaObject::invokeMethod(
                this, [this] { handleDeepLink(m_appViewModel.deepLink.get()); }, Qt::QueuedConnection);
    }));
    m_subscriptions.push_back(model.codeValue.sink([this](const QString& value) {
        // Typing clears the last message; emptying the field leaves it.
        if (value != m_viewModel->codeValue.get() && !value.isEmpty() && !m_viewModel->errorMessage.get().isEmpty())
            m_viewModel->errorMessage = QString();
    }));
    m_subscriptions.push_back(m_appViewModel.objectWillChange().sink([this](rx::Void) { scheduleRefresh(); }));
    m_subscriptions.push_back(model.objectWillChange().sink([this](rx::Void) { scheduleRefresh(); }));
}

bool HomeScreenView::canAuthenticate() const {
    if (!m_viewModel->orgCodes->empty())
        return !m_viewModel->orgCode->isEmpty();
    return !m_viewModel->codeValue->isEmpty();
}

QString HomeScreenView::maskedCode(const QString& code) {
    return QString(qsizetype(flows::userPerceivedCharacters(code).size()), QLatin1Char('*'));
}

bool HomeScreenView::isBusy() const {
    return m_appViewModel.isLoading.get();
}

void HomeScreenView::startVerification() {
    m_viewModel->verifyDid(m_viewModel->codeValue.get());
}

void HomeScreenView::authenticate() {
    if (!isBusy() && canAuthenticate())
        startVerification();
}

void HomeScreenView::submitSecondCode() {
    const QString code = m_viewModel->otpValue.get();
    if (!isBusy() && hasLength(code, secondCodeLength))
        m_viewModel->verifyCode(code);
}

void HomeScreenView::resetOrganizationChoice() {
    m_viewModel->orgCodes = std::vector<OrgCode>{};
    m_viewModel->errorMessage = QString();
    m_viewModel->show2Fa = false;
    m_viewModel->orgCode = QString();
}

void HomeScreenView::selectOrganization(const OrgCode& organization) {
    if (!isBusy())
        m_viewModel->orgCode = organization.orgCode.value_or(QString());
}

void HomeScreenView::handleFocusChange(std::optional<Field> value) {
    // The followers of the list and of Back draw their frames; the screen keeps its own copy of the rest.
    if (!value) {
        m_focusedField.reset();
        return;
    }
    switch (*value) {
    case Field::authenticate:
    case Field::authenticateValidation:
    case Field::orgSelection:
    case Field::twoFactor:
    case Field::homeBack:
        m_focusedField = value;
        break;
    case Field::authCode:
        // The code field is not there while the list or the second code shows.
        if (!m_viewModel->orgCodes->empty())
            m_appViewModel.setFocusedField(Field::orgSelection);
        else if (m_viewModel->show2Fa.get())
            m_appViewModel.setFocusedField(Field::twoFactor);
        else
            m_focusedField = Field::authCode;
        break;
    case Field::handleAuth:
        // A stop on the way from Authenticate to Back, or to the tab bar when there is no Back.
        m_appViewModel.setFocusedField(m_viewModel->orgCodes->empty() ? Field::removeUserTab : Field::homeBack);
        break;
    default:
        m_focusedField.reset();
        break;
    }
}

void HomeScreenView::handleDeepLink(const std::optional<QUrl>& value) {
    if (!value || !isVisible() || isBusy())
        return;
    const std::optional<QString> code = linkCode(*value);
    if (!code)
        return;
    // The user followed the link: its code is sent as it is, like a pasted one.
    m_viewModel->codeValue = *code;
    startVerification();
    m_appViewModel.deepLink = std::nullopt;
}

bool HomeScreenView::handleKeyDown(const QKeyEvent& event) {
    const std::optional<Field> focus = m_appViewModel.focusedFieldPublisher.get();
    const int key = event.key();
    // Nothing under the busy overlay changes while a request is out: no typing into the codes, no move in
    // the organisation list. Tab still goes on to the tab bar's order.
    if (isBusy() && key != Qt::Key_Tab && key != Qt::Key_Backtab)
        return true;
    if (isReturnKey(event)) {
        if (focus == Field::authenticate) {
            console::debugPrint(maskedCode(m_viewModel->codeValue.get()));
            if (!isBusy() && canAuthenticate())
                QMetaObject::invokeMethod(this, &HomeScreenView::authenticate, Qt::QueuedConnection);
            return true;
        }
        if (focus == Field::authenticateValidation) {
            QMetaObject::invokeMethod(this, &HomeScreenView::submitSecondCode, Qt::QueuedConnection);
            return true;
        }
        if (focus == Field::homeBack || focus == Field::handleAuth) {
            if (!isBusy()) {
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        resetOrganizationChoice();
                        m_appViewModel.setFocusedField(Field::unfocus);
                    },
                    Qt::QueuedConnection);
            }
            return true;
        }
        return false;
    }
    if (key == Qt::Key_Tab) {
        if (focus == Field::handleAuth) {
            if (!m_viewModel->show2Fa.get())
                m_appViewModel.setFocusedField(Field::homeBack);
            return false;
        }
        if (focus == Field::homeBack) {
            m_appViewModel.setFocusedField(Field::removeUserTab);
            return true;
        }
        if (focus == Field::authCode) {
            m_appViewModel.setFocusedField(Field::authenticate);
            return true;
        }
        return false;
    }
    if (key == Qt::Key_Down || key == Qt::Key_Up) {
        moveOrganization(key == Qt::Key_Down ? 1 : -1);
        return true;
    }
    return false;
}

void HomeScreenView::moveOrganization(int step) {
    const std::vector<OrgCode>& organizations = m_viewModel->orgCodes.get();
    const QString& chosen = m_viewModel->orgCode.get();
    const auto found = std::find_if(organizations.begin(), organizations.end(),
                                    [&](const OrgCode& entry) { return entry.orgCode == chosen; });
    if (found == organizations.end())
        return;
    const qsizetype next = std::clamp<qsizetype>(qsizetype(found - organizations.begin()) + step, 0,
                                                 qsizetype(organizations.size()) - 1);
    m_viewModel->orgCode = organizations[size_t(next)].orgCode.value_or(QString());
}

void HomeScreenView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A link that came before the screen showed, also while another screen showed.
    handleDeepLink(m_appViewModel.deepLink.get());
}

void HomeScreenView::scheduleRefresh() {
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &HomeScreenView::refresh, Qt::QueuedConnection);
}

void HomeScreenView::refresh() {
    m_refreshQueued = false;
    const HomeViewModel& model = *m_viewModel;
    const bool choosing = !model.orgCodes->empty();

    m_pages->setCurrentIndex(model.show2Fa.get() ? 1 : 0);
    const QString email = model.email.get();
    m_greeting->setText(tr("Hello ") + email + QStringLiteral(","));
    m_greetingTooltip->setText(email);

    m_organizationTitle->setVisible(choosing);
    m_organizationList->setVisible(choosing);
    m_organizationSpacer->setVisible(choosing);
    m_codeField->setVisible(!choosing);
    m_codeFieldSpacer->setVisible(!choosing);
    m_backButton->setVisible(choosing);
    // Restyling is costly (the style sheet is parsed again), so only a change restyles.
    if (model.orgCodes.get() != m_shownOrganizations) {
        rebuildOrganizationRows();
        m_shownOrgCode.reset();
    }
    if (m_shownOrgCode != model.orgCode.get()) {
        m_shownOrgCode = model.orgCode.get();
        for (size_t i = 0; i < m_organizationButtons.size(); ++i)
            styleOrganizationRow(*m_organizationButtons[i], m_shownOrganizations[i].orgCode == m_shownOrgCode);
    }

    if (m_codeField->text() != model.codeValue.get())
        m_codeField->setText(model.codeValue.get());
    if (m_secondCodeField->otp() != model.otpValue.get())
        m_secondCodeField->setOtp(model.otpValue.get());
    if (m_authenticateReadyShown != canAuthenticate()) {
        m_authenticateReadyShown = canAuthenticate();
        ElevatedButtonStyle{namedColor(ready(*m_authenticateReadyShown))}.apply(*m_authenticateButton);
    }
    const bool secondCodeReady = hasLength(model.otpValue.get(), secondCodeLength);
    if (m_secondCodeReadyShown != secondCodeReady) {
        m_secondCodeReadyShown = secondCodeReady;
        ElevatedButtonStyle{namedColor(ready(secondCodeReady))}.apply(*m_secondCodeButton);
    }
    m_status->setMessage(model.errorMessage.get(), model.showSucces.get());
    m_secondStatus->setMessage(model.errorMessage.get(), model.showSucces.get());
}

void HomeScreenView::styleOrganizationRow(QPushButton& row, bool selected) {
    ListButtonStyle{namedColor(QStringLiteral("DarkGray")),
                    selected ? namedColor(QStringLiteral("BlueGreyLite")) : color(SemanticColor::clear),
                    namedColor(QStringLiteral("BlueGreyLite"))}
        .apply(row);
}

void HomeScreenView::rebuildOrganizationRows() {
    for (QPushButton* row : m_organizationButtons)
        delete row;
    m_organizationButtons.clear();
    m_shownOrganizations = m_viewModel->orgCodes.get();
    for (const OrgCode& entry : m_shownOrganizations) {
        const QString name = entry.orgName.value_or(QString());
        auto* row = new QPushButton(m_organizationList);
        row->setObjectName(QStringLiteral("organization"));
        row->setAccessibleName(name);
        // A button draws its text on one line, so the name is a label of its own that wraps; the button
        // under it still takes every click and draws the fill.
        auto* label = new QLabel(name, row);
        label->setObjectName(QStringLiteral("organizationName"));
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* content = new QHBoxLayout(row);
        content->setContentsMargins(rowPadding, rowPadding, rowPadding, rowPadding);
        content->addWidget(label);
        styleOrganizationRow(*row, false);
        // The row grows to hold every line of the name. Its width is fixed, so its height is known now, and
        // the layouts above, which offer the list the whole column's width, cannot make it one line again.
        row->setFixedHeight(content->totalHeightForWidth(row->width()));
        connect(row, &QPushButton::clicked, this, [this, entry] { selectOrganization(entry); });
        m_organizationRows->addWidget(row);
        m_organizationButtons.push_back(row);
    }
}
