#include "CreateAccountView.h"

#include "ConfirmUserOverrideView.h"
#include "PolicyCheckView.h"
#include "ScreenPadding.h"

#include "app/AppViewModel.h"
#include "flows/CreateAccountViewModel.h"
#include "flows/FlowSupport.h"
#include "flows/PinRule.h"
#include "platform/Console.h"
#include "ui/controls/AppFont.h"
#include "ui/controls/CustomTextField.h"
#include "ui/controls/ElevatedButtonStyle.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/KeyDispatcher.h"
#include "ui/controls/KeyMonitor.h"
#include "ui/controls/OtpFormFieldView.h"
#include "ui/controls/SemanticColor.h"
#include "ui/controls/UnderlinedTextField.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

const QString pinRuleMessage = QStringLiteral(
    "MUST have at least 3 unique numbers. Should NOT have 3 or more sequential numbers or consecutive "
    "identical numbers");
const QString mismatchMessage = QStringLiteral("PIN confirmation does not match");

constexpr qsizetype codeLength = 6;
constexpr int leadingInset = 20;
constexpr int titleBottomPadding = 10;
// The toolkit's spacing of a stack.
constexpr int defaultSpacing = 8;
constexpr int newPinBottomPadding = 5;
constexpr int lastFieldBottomPadding = 15;
constexpr int consentBottomPadding = 15;
constexpr int buttonAreaWidth = 312;
constexpr int buttonAreaHeight = 42;

bool isValidEmail(const QString& email) {
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,64}")));
    return pattern.match(email).hasMatch();
}

qsizetype characterCount(const QString& text) {
    return static_cast<qsizetype>(flows::userPerceivedCharacters(text).size());
}

// What the PIN stage's check makes of the message: the text to show, or absent to leave it as it is.
std::optional<QString> pinStageMessage(const QString& newPin, const QString& confirmPin) {
    if (characterCount(newPin) < 3)
        return QString();
    if (!PinRule::evaluate(newPin))
        return pinRuleMessage;
    if (characterCount(newPin) != codeLength || characterCount(confirmPin) != codeLength)
        return QString();
    if (newPin == confirmPin)
        return std::nullopt;
    return mismatchMessage;
}

} // namespace

struct CreateAccountView::Ui {
    QWidget* content = nullptr;
    UnderlinedTextField* email = nullptr;
    OtpFormFieldView* activationCode = nullptr;
    PolicyCheckView* consent = nullptr;
    OtpFormFieldView* newPin = nullptr;
    OtpFormFieldView* confirmPin = nullptr;
    QPushButton* submitButton = nullptr;
    ErrorMessageView* status = nullptr;
    ConfirmUserOverrideView* dialog = nullptr;
    // What the button's label colour says; none before the first check of a stage.
    std::optional<bool> buttonShowsReady;
};

CreateAccountView::CreateAccountView(AppViewModel& appViewModel,
                                     std::unique_ptr<CreateAccountViewModel> viewModel, QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_viewModel(std::move(viewModel))
    , m_ui(std::make_unique<Ui>()) {
    setObjectName(QStringLiteral("createAccountView"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, namedColor(QStringLiteral("mainBg")));
    setPalette(palette);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_stage = stageFromFlow();
    showStage(m_stage);

    CreateAccountViewModel& flow = *m_viewModel;
    watchInput<QString>(flow.email, &Inputs::email, [this](const QString& value) {
        if (m_ui->email && m_ui->email->text() != value)
            m_ui->email->setText(value);
    });
    watchInput<QString>(flow.activationCode, &Inputs::activationCode, [this](const QString& value) {
        activationCodeReceived(value);
        if (m_ui->activationCode && m_ui->activationCode->otpValue() != value)
            m_ui->activationCode->setOtpValue(value);
    });
    watchInput<bool>(flow.isChecked, &Inputs::isChecked, {});
    flow.isUserValidated.sink([this](bool) { scheduleStageUpdate(); }).store(m_subscriptions);
    flow.showUserExistWarning.sink([this](bool) { scheduleStageUpdate(); }).store(m_subscriptions);
    flow.errorMessage
        .sink([this](const QString& message) {
            if (m_ui->status)
                m_ui->status->setMessage(message, m_viewModel->showSucces.get());
        })
        .store(m_subscriptions);
    flow.showSucces
        .sink([this](bool success) {
            if (m_ui->status)
                m_ui->status->setMessage(m_viewModel->errorMessage.get(), success);
            // A completed registration leaves nothing to submit.
            inputsChanged(currentInputs());
        })
        .store(m_subscriptions);
    appViewModel.focusedFieldPublisher
        .sink([this](const std::optional<Field>& field) { applyPublishedFocus(field); })
        .store(m_subscriptions);

    new KeyMonitor(this, [this](QKeyEvent& event) { return handleKeyDown(&event); });
}

template <typename T>
void CreateAccountView::watchInput(const rx::Published<T>& input, T Inputs::*member,
                                   std::function<void(const T&)> reflect) {
    // A published value reaches its subscribers before it is stored, so the check takes it from the delivery.
    input
        .sink([this, member, reflect](const T& value) {
            if (reflect)
                reflect(value);
            Inputs inputs = currentInputs();
            inputs.*member = value;
            inputsChanged(inputs);
        })
        .store(m_subscriptions);
}

CreateAccountView::~CreateAccountView() {
    // The subscriptions reach into the widgets, and the widgets (a stage waiting for deletion among them)
    // into the flow, which goes with the members, before QWidget deletes the children.
    m_subscriptions.clear();
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

CreateAccountView::Inputs CreateAccountView::currentInputs() const {
    return Inputs{m_viewModel->email.get(), m_viewModel->activationCode.get(), m_viewModel->isChecked.get(),
                  m_newPin, m_confirmPin};
}

CreateAccountView::Stage CreateAccountView::stageFromFlow() const {
    if (m_viewModel->showUserExistWarning.get())
        return Stage::registerAnew;
    return m_viewModel->isUserValidated.get() ? Stage::pin : Stage::enrolment;
}

bool CreateAccountView::inputsAreValid(Stage stage, const Inputs& inputs) {
    switch (stage) {
    case Stage::enrolment:
        return isValidEmail(inputs.email) && characterCount(inputs.activationCode) == codeLength &&
               inputs.isChecked;
    case Stage::pin:
        return characterCount(inputs.newPin) >= 3 && PinRule::evaluate(inputs.newPin) &&
               characterCount(inputs.newPin) == codeLength && inputs.newPin == inputs.confirmPin;
    case Stage::registerAnew:
        return false;
    }
    return false;
}

bool CreateAccountView::validate() const {
    return !m_viewModel->isRegistered() && inputsAreValid(m_stage, currentInputs());
}

void CreateAccountView::inputsChanged(const Inputs& inputs) {
    const bool valid = !m_viewModel->isRegistered() && inputsAreValid(m_stage, inputs);
    if (m_ui->submitButton && valid != m_ui->buttonShowsReady) {
        m_ui->buttonShowsReady = valid;
        ElevatedButtonStyle{valid ? color(SemanticColor::black) : color(SemanticColor::darkGray)}.apply(
            *m_ui->submitButton);
        // The pointing hand only while a press would act.
        m_ui->submitButton->setCursor(valid ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
    if (m_stage != Stage::pin)
        return;
    // The message is written only when the check asks for another one: the flow's own messages stay until
    // the next edit, and writing the message never runs the check again.
    const std::optional<QString> message = pinStageMessage(inputs.newPin, inputs.confirmPin);
    if (message && *message != m_viewModel->errorMessage.get())
        m_viewModel->errorMessage = *message;
}

void CreateAccountView::submit() {
    // After a registration the screen only shows its completion until it goes.
    if (m_appViewModel.isLoading.get() || m_viewModel->isRegistered() || !validate())
        return;
    if (m_stage == Stage::pin) {
        m_viewModel->createAccount(m_newPin);
        return;
    }
    const QString email = m_viewModel->email.get();
    const QString code = m_viewModel->activationCode.get();
    m_appViewModel.isLoading = true;
    m_viewModel->validateUser(code, email);
}

void CreateAccountView::scheduleStageUpdate() {
    // The flow sets its two flags one after the other; the stage follows once both are stored, and never
    // from inside the dialog's own button press.
    if (m_stageUpdatePending)
        return;
    m_stageUpdatePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_stageUpdatePending = false;
            const Stage stage = stageFromFlow();
            if (stage != m_stage)
                showStage(stage);
        },
        Qt::QueuedConnection);
}

void CreateAccountView::activationCodeReceived(const QString& code) {
    // A trace of the typing, never of the code itself.
    console::print(QStringLiteral("activationCode: ") + QString(code.size(), QLatin1Char('*')));
    if (!code.isEmpty() && !m_viewModel->errorMessage.get().isEmpty())
        QMetaObject::invokeMethod(
            this, [this] { m_viewModel->errorMessage = QString(); }, Qt::QueuedConnection);
}

void CreateAccountView::applyPublishedFocus(std::optional<Field> field) {
    // The followers of the controls do the rest; the e-mail field is asked for where it is not shown.
    if (field != Field::regOrgEmail)
        return;
    if (m_stage == Stage::pin)
        m_appViewModel.setFocusedField(Field::createPin);
    else if (m_stage == Stage::registerAnew)
        m_appViewModel.setFocusedField(Field::userDeletetionYes);
}

bool CreateAccountView::handleKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Backspace) {
        // At once rather than queued: the box edit this key makes next is checked against a cleared line, so
        // a PIN the rule still refuses gets its message back.
        m_viewModel->errorMessage = QString();
        inputsChanged(currentInputs());
        return false;
    }
    if (!isReturnKey(*event) || m_appViewModel.focusedFieldPublisher.get() != Field::regSubmitButton)
        return false;
    if (m_appViewModel.isLoading.get())
        return true;
    QMetaObject::invokeMethod(
        this, [this] { submit(); }, Qt::QueuedConnection);
    return true;
}

void CreateAccountView::codeBoxChanged(const QString& text, int index) {
    if (index == codeLength - 1 && !text.isEmpty())
        submit();
}

void CreateAccountView::showStage(Stage stage) {
    m_stage = stage;
    if (m_ui->content) {
        // The old stage may be the one whose key handler or click brought us here.
        m_ui->content->hide();
        m_ui->content->deleteLater();
    }
    *m_ui = Ui{};
    CreateAccountViewModel& flow = *m_viewModel;

    if (stage == Stage::registerAnew) {
        m_ui->dialog = new ConfirmUserOverrideView(flow, m_appViewModel, this);
        m_ui->content = m_ui->dialog;
    } else {
        m_ui->content = buildForm(stage);
    }
    layout()->addWidget(m_ui->content);
    m_ui->content->show();
    if (stage == Stage::pin)
        m_appViewModel.setFocusedField(Field::createPin);
    inputsChanged(currentInputs());
}

QWidget* CreateAccountView::buildForm(Stage stage) {
    CreateAccountViewModel& flow = *m_viewModel;
    auto* form = new QWidget(this);
    form->setObjectName(stage == Stage::pin ? QStringLiteral("pinStage") : QStringLiteral("enrolmentStage"));
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(platformDefaultPadding + leadingInset, platformDefaultPadding,
                               platformDefaultPadding, platformDefaultPadding);
    column->setSpacing(defaultSpacing);

    auto* heading = new QLabel(tr("New Registration"), form);
    heading->setFont(appFont(FontFace::bold, 20));
    QPalette headingPalette = heading->palette();
    headingPalette.setColor(QPalette::WindowText, color(SemanticColor::white));
    heading->setPalette(headingPalette);
    heading->setContentsMargins(0, 0, 0, titleBottomPadding);
    column->addWidget(heading);

    if (stage == Stage::enrolment) {
        addEnrolmentFields(*form, *column);
        m_ui->consent = new PolicyCheckView(flow.isChecked, m_appViewModel, form);
        m_ui->consent->setObjectName(fieldName(Field::agreeTerms) + QStringLiteral("Row"));
        column->addWidget(m_ui->consent);
        column->addSpacing(consentBottomPadding);
    } else {
        addPinFields(*form, *column);
    }

    // The button is never disabled: its label's colour tells whether it will act.
    auto* buttonArea = new QWidget(form);
    buttonArea->setObjectName(QStringLiteral("regSubmitButtonArea"));
    buttonArea->setFixedSize(buttonAreaWidth, buttonAreaHeight);
    m_ui->submitButton = new QPushButton(stage == Stage::pin ? tr("Submit") : tr("Next"), buttonArea);
    m_ui->submitButton->setObjectName(fieldName(Field::regSubmitButton));
    auto* buttonLayout = new QVBoxLayout(buttonArea);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    buttonLayout->addWidget(m_ui->submitButton, 0, Qt::AlignCenter);
    FocusFollower::frame(m_appViewModel, Field::regSubmitButton, buttonArea);
    connect(m_ui->submitButton, &QPushButton::clicked, this, &CreateAccountView::submit);
    column->addWidget(buttonArea);

    m_ui->status = new ErrorMessageView(form);
    m_ui->status->setObjectName(QStringLiteral("statusLine"));
    m_ui->status->setMessage(flow.errorMessage.get(), flow.showSucces.get());
    column->addWidget(m_ui->status);
    column->addStretch();
    return form;
}

void CreateAccountView::addEnrolmentFields(QWidget& form, QVBoxLayout& column) {
    m_ui->email = new UnderlinedTextField(tr("Organization Email Address"), std::nullopt, &form);
    m_ui->email->setObjectName(fieldName(Field::regOrgEmail));
    m_ui->email->setText(m_viewModel->email.get());
    connect(m_ui->email, &UnderlinedTextField::textWritten, this,
            [this](const QString& text) { m_viewModel->email = text; });
    m_ui->email->setOnTap([this] { focusOnTap(Field::regOrgEmail); });
    FocusFollower::keyboard(m_appViewModel, Field::regOrgEmail, m_ui->email->field());
    column.addWidget(m_ui->email);
    column.addSpacing(platformDefaultPadding);

    // The flow keeps the code; the field shows it plain whatever it is made with.
    m_ui->activationCode = addCodeField(form, column, TextFieldType::activationCode, Field::regActivationCode,
                                        m_viewModel->activationCode.get(), platformDefaultPadding);
    connect(m_ui->activationCode, &OtpFormFieldView::otpValueChanged, this,
            [this](const QString& code) { m_viewModel->activationCode = code; });
    m_ui->activationCode->setOnValueChange(
        [this](const QString& text, int index) { codeBoxChanged(text, index); });
}

OtpFormFieldView* CreateAccountView::addCodeField(QWidget& form, QVBoxLayout& column, TextFieldType type,
                                                  Field field, const QString& value, int paddingBelow) {
    auto* entry = new OtpFormFieldView(type, true, &form);
    entry->setObjectName(fieldName(field));
    entry->setOtpValue(value);
    entry->setOnTap([this, field] { focusOnTap(field); });
    FocusFollower::keyboard(m_appViewModel, field, entry);
    column.addWidget(entry);
    column.addSpacing(paddingBelow);
    return entry;
}

void CreateAccountView::focusOnTap(Field field) {
    if (m_appViewModel.focusedFieldPublisher.get() != field)
        m_appViewModel.setFocusedField(field);
}

void CreateAccountView::addPinFields(QWidget& form, QVBoxLayout& column) {
    // The PINs are the screen's own and outlive a change of stage.
    m_ui->newPin =
        addCodeField(form, column, TextFieldType::createPin, Field::createPin, m_newPin, newPinBottomPadding);
    connect(m_ui->newPin, &OtpFormFieldView::otpValueChanged, this, [this](const QString& pin) {
        m_newPin = pin;
        inputsChanged(currentInputs());
    });
    m_ui->confirmPin = addCodeField(form, column, TextFieldType::confirmPin, Field::confirmPin, m_confirmPin,
                                    lastFieldBottomPadding);
    connect(m_ui->confirmPin, &OtpFormFieldView::otpValueChanged, this, [this](const QString& pin) {
        m_confirmPin = pin;
        inputsChanged(currentInputs());
    });
    m_ui->confirmPin->setOnValueChange(
        [this](const QString& text, int index) { codeBoxChanged(text, index); });
}
