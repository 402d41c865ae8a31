#include "LoginViewView.h"

#include "DropDownButtonView.h"
#include "ScreenPadding.h"
#include "TextLook.h"

#include "app/AppViewModel.h"
#include "flows/HomeViewModel.h"
#include "ui/controls/ElevatedButtonStyle.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/KeyMonitor.h"
#include "ui/controls/OtpFormFieldView.h"
#include "ui/controls/SemanticColor.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int pinLength = 6;
constexpr int extraLeadingPadding = 20;
constexpr int textBottomPadding = 10;
// The chooser's focus outline: its own size, centred on the chooser, not the chooser's edge.
constexpr QSize chooserOutline(312, 35);
constexpr int lastPinBox = pinLength - 1;

std::optional<QString> userKeyOf(const std::optional<AuthResponse>& user) {
    if (!user)
        return std::nullopt;
    if (user->displayEmail)
        return user->displayEmail;
    return user->email;
}

// The place of `user` in the stored list. The store keeps one record per zid, so the zid names the place
// even when several users share an address; a record without one is looked for as a whole.
std::optional<size_t> positionOf(const std::vector<AuthResponse>& users, const AuthResponse& user) {
    for (size_t i = 0; i < users.size(); ++i) {
        if (user.zid ? users[i].zid == user.zid : users[i] == user)
            return i;
    }
    return std::nullopt;
}

std::optional<AuthResponse> loneUser(const std::optional<std::vector<AuthResponse>>& users) {
    if (users && users->size() == 1)
        return users->front();
    return std::nullopt;
}

} // namespace

LoginViewView::LoginViewView(AppViewModel& appViewModel, std::unique_ptr<HomeViewModel> viewModel,
                             QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_viewModel(std::move(viewModel)) {
    setObjectName(QStringLiteral("LoginViewView"));
    fillBackground(*this, QStringLiteral("mainBg"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(platformDefaultPadding + extraLeadingPadding, platformDefaultPadding,
                               platformDefaultPadding, platformDefaultPadding);
    column->setSpacing(0);

    auto* title = makeText(tr("Unlock App"), FontFace::bold, 20, color(SemanticColor::white), this);
    column->addWidget(title);
    column->addSpacing(textBottomPadding);
    auto* subtitle = makeText(tr("Please enter PIN to unlock"), FontFace::regular, 11,
                              namedColor(QStringLiteral("DarkGray")), this);
    column->addWidget(subtitle);
    column->addSpacing(textBottomPadding);

    m_chooser = new DropDownButtonView(this);
    m_chooser->setOnChoose([this](qsizetype position) {
        if (isBusy())
            return;
        setSelectedOption(m_chooser->userOptions()[size_t(position)]);
    });
    FocusFollower::frame(m_appViewModel, Field::loginUsers, m_chooser, chooserOutline);
    column->addWidget(m_chooser);

    m_pinField = new OtpFormFieldView(TextFieldType::enterPin, true, this);
    m_pinField->setObjectName(fieldName(Field::loginPassword));
    connect(m_pinField, &OtpFormFieldView::otpValueChanged, this, [this](const QString& pin) {
        m_pinValue = pin;
        refresh();
    });
    m_pinField->setOnValueChange([this](const QString& text, int index) { pinDidChange(text, index); });
    m_pinField->setOnTap([this] { focusPinField(); });
    FocusFollower::keyboard(m_appViewModel, Field::loginPassword, m_pinField);
    column->addWidget(m_pinField);
    column->addSpacing(platformDefaultPadding);

    m_unlockButton = new QPushButton(tr("Unlock App"), this);
    m_unlockButton->setObjectName(fieldName(Field::unlockApp));
    connect(m_unlockButton, &QPushButton::clicked, this, &LoginViewView::unlock);
    FocusFollower::frame(m_appViewModel, Field::unlockApp, m_unlockButton);
    column->addWidget(m_unlockButton);

    m_status = new ErrorMessageView(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    column->addWidget(m_status);
    // All the room left goes below, none to the controls: they stay put when the status line changes.
    column->addStretch(1);

    m_subscriptions.push_back(m_appViewModel.focusedFieldPublisher.sink(
        [this](const std::optional<Field>& value) { applyPublishedFocus(value); }));
    m_subscriptions.push_back(
        m_appViewModel.isRemoveUser.sink([this](bool value) { handleUsersReloaded(value); }));
    // Redrawn once the write being announced has landed.
    m_subscriptions.push_back(m_appViewModel.objectWillChange().sink([this](rx::Void) { scheduleRefresh(); }));
    m_subscriptions.push_back(m_viewModel->objectWillChange().sink([this](rx::Void) { scheduleRefresh(); }));
    m_keyMonitor = new KeyMonitor(this, [this](QKeyEvent& event) { return handleKeyDown(event); });
    refresh();
}

LoginViewView::~LoginViewView() = default;

bool LoginViewView::isUnlockReady() const {
    return m_pinValue.size() == pinLength && m_selectedOption.has_value();
}

bool LoginViewView::isBusy() const {
    return m_appViewModel.isLoading.get();
}

void LoginViewView::unlock() {
    if (isBusy() || m_pinValue.size() != pinLength)
        return;
    // A user deleted since it was chosen is never made the current user again: that write would store it
    // anew. Nor is the PIN tried on whoever is left: it was typed for the chosen user, and would count as a
    // wrong attempt against another. The person chooses again.
    if (m_selectedOption && m_appViewModel.isStoredUser(*m_selectedOption) == false)
        setSelectedOption(std::nullopt);
    // The current user is replaced only by another user: the same one keeps its live attempt count. Users
    // that share an address are told apart by their zid.
    const std::optional<AuthResponse>& current = m_appViewModel.authDetails.get();
    const bool sameUser = userKeyOf(current) == userKeyOf(m_selectedOption) &&
                          (current ? current->zid : std::nullopt) ==
                              (m_selectedOption ? m_selectedOption->zid : std::nullopt);
    if (!sameUser)
        m_appViewModel.authDetails = m_selectedOption;

    if (!m_selectedOption) {
        QMetaObject::invokeMethod(this, &LoginViewView::showChooseUserMessage, Qt::QueuedConnection);
        startOver();
        return;
    }
    // A correct PIN switches to the home screen, and the shell lets this screen go.
    AppViewModel& app = m_appViewModel;
    const QPointer<LoginViewView> self(this);
    m_viewModel->verifyPin(m_selectedOption->email.value_or(QString()), m_pinValue);
    if (self && !app.isSignedIn())
        startOver();
    app.checkUsersStillExist();
}

void LoginViewView::startOver() {
    setPinValue(QString());
    // Asked for once the boxes are done with this change: a pasted PIN takes the keyboard from the row
    // after it has been spread over the boxes.
    QMetaObject::invokeMethod(
        this, [this] { m_appViewModel.setFocusedField(Field::loginPassword); }, Qt::QueuedConnection);
}

void LoginViewView::pinDidChange(const QString& text, int index) {
    // A pasted PIN reports its boxes one by one; the whole PIN is what the boxes hold now.
    m_pinValue = m_pinField->otpValue();
    if (index == lastPinBox && !text.isEmpty())
        unlock();
}

void LoginViewView::focusPinField() {
    if (m_appViewModel.focusedFieldPublisher.get() != Field::loginPassword)
        m_appViewModel.setFocusedField(Field::loginPassword);
}

void LoginViewView::applyPublishedFocus(std::optional<Field> value) {
    // The followers of the controls draw the frames and move the keyboard; the screen keeps its own copy.
    if (value == Field::loginUsers || value == Field::unlockApp || value == Field::loginPassword)
        m_focusedField = value;
    else
        m_focusedField.reset();
}

void LoginViewView::handleUsersReloaded(bool value) {
    if (!value)
        return;
    QMetaObject::invokeMethod(this, &LoginViewView::resetAfterReload, Qt::QueuedConnection);
    // Written back after the reload's own write has landed, or that write would put the flag back.
    QMetaObject::invokeMethod(
        this, [this] { m_appViewModel.isRemoveUser = false; }, Qt::QueuedConnection);
}

void LoginViewView::resetAfterReload() {
    setPinValue(QString());
    setSelectedOption(loneUser(m_appViewModel.userDetailsList.get()));
    // Emptying the secret boxes takes the keyboard from them; while the PIN field is the focused field,
    // the next digit belongs in its first box.
    if (m_appViewModel.focusedFieldPublisher.get() == Field::loginPassword)
        m_appViewModel.setFocusedField(Field::loginPassword);
}

void LoginViewView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The key monitor registers itself while the screen shows.
    if (const auto only = loneUser(m_appViewModel.userDetailsList.get()))
        setSelectedOption(only);
}


bool LoginViewView::handleKeyDown(const QKeyEvent& event) {
    const std::optional<Field> focus = m_appViewModel.focusedFieldPublisher.get();
    const int key = event.key();
    if (focus == Field::loginUsers) {
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            moveChoice(key == Qt::Key_Down ? 1 : -1);
            return true;
        }
        return false;
    }
    if (focus == Field::loginPassword) {
        if (key == Qt::Key_Backspace)
            QMetaObject::invokeMethod(this, &LoginViewView::clearStatusMessage, Qt::QueuedConnection);
        return false;
    }
    if (focus == Field::unlockApp && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (!isBusy())
            QMetaObject::invokeMethod(this, &LoginViewView::unlock, Qt::QueuedConnection);
        return true;
    }
    return false;
}

void LoginViewView::moveChoice(int step) {
    const auto& users = m_appViewModel.userDetailsList.get();
    if (!users || users->empty())
        return;
    if (!m_selectedOption) {
        if (step > 0)
            setSelectedOption(users->front());
        return;
    }
    const std::optional<size_t> position = positionOf(*users, *m_selectedOption);
    if (!position)
        return;
    const qsizetype next = std::clamp<qsizetype>(qsizetype(*position) + step, 0, qsizetype(users->size()) - 1);
    setSelectedOption((*users)[size_t(next)]);
}

void LoginViewView::clearStatusMessage() {
    m_viewModel->errorMessage = QString();
}

void LoginViewView::showChooseUserMessage() {
    m_viewModel->errorMessage = tr("Please choose a user and enter PIN");
}

void LoginViewView::setSelectedOption(std::optional<AuthResponse> option) {
    m_selectedOption = std::move(option);
    refresh();
}

void LoginViewView::setPinValue(const QString& pin) {
    m_pinValue = pin;
    m_pinField->setOtpValue(pin);
    refresh();
}

void LoginViewView::scheduleRefresh() {
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &LoginViewView::refresh, Qt::QueuedConnection);
}

void LoginViewView::refresh() {
    m_refreshQueued = false;
    const auto& users = m_appViewModel.userDetailsList.get();
    std::vector<std::optional<AuthResponse>> options;
    if (users)
        options.assign(users->begin(), users->end());
    if (options != m_chooser->userOptions())
        m_chooser->setUserOptions(std::move(options));
    m_chooser->setSelectedOption(m_selectedOption);
    // Restyling is costly (the style sheet is parsed again), so only a change of readiness restyles.
    if (m_unlockReadyShown != isUnlockReady()) {
        m_unlockReadyShown = isUnlockReady();
        ElevatedButtonStyle{namedColor(*m_unlockReadyShown ? QStringLiteral("PureBlack") : QStringLiteral("DarkGray"))}
            .apply(*m_unlockButton);
    }
    m_status->setMessage(m_viewModel->errorMessage.get());
}
