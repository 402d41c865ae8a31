#pragma once

#include "app/Field.h"
#include "platform/Published.h"
#include "ui/controls/TextFieldType.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AppViewModel;
class CreateAccountViewModel;
class QKeyEvent;
class OtpFormFieldView;
class QVBoxLayout;

// The "New Registration" tab: the organisation e-mail, the activation code and the consent, then a new PIN
// and its confirmation, or the register-anew question when the address is already enrolled here. It only
// binds: the flow holds the e-mail, code and consent and does the calls; the two PINs stay in the screen.
class CreateAccountView : public QWidget {
    Q_OBJECT

public:
    enum class Stage { enrolment, pin, registerAnew };

    CreateAccountView(AppViewModel& appViewModel, std::unique_ptr<CreateAccountViewModel> viewModel,
                      QWidget* parent = nullptr);
    ~CreateAccountView() override;

    CreateAccountViewModel& viewModel() const { return *m_viewModel; }
    Stage stage() const { return m_stage; }
    const QString& newPin() const { return m_newPin; }
    const QString& confirmPin() const { return m_confirmPin; }

    // Whether the inputs of the current stage let Next or Submit act.
    bool validate() const;
    // Next or Submit: nothing while the window is busy or the inputs do not pass validate().
    void submit();

private:
    struct Inputs {
        QString email;
        QString activationCode;
        bool isChecked = false;
        QString newPin;
        QString confirmPin;
    };

    // Checks the inputs again on each new value of `input`, after `reflect` has shown it.
    template <typename T>
    void watchInput(const rx::Published<T>& input, T Inputs::*member, std::function<void(const T&)> reflect);
    Inputs currentInputs() const;
    Stage stageFromFlow() const;
    static bool inputsAreValid(Stage stage, const Inputs& inputs);
    // Runs after every edit of an input: the button's readiness and, while choosing the PIN, the message.
    void inputsChanged(const Inputs& inputs);
    void scheduleStageUpdate();
    void showStage(Stage stage);
    QWidget* buildForm(Stage stage);
    void addEnrolmentFields(QWidget& form, QVBoxLayout& column);
    void addPinFields(QWidget& form, QVBoxLayout& column);
    OtpFormFieldView* addCodeField(QWidget& form, QVBoxLayout& column, TextFieldType type, Field field,
                                   const QString& value, int paddingBelow);
    // A click into a field asks for its focus, unless it has it already.
    void focusOnTap(Field field);
    void applyPublishedFocus(std::optional<Field> field);
    bool handleKeyDown(QKeyEvent* event);
    void codeBoxChanged(const QString& text, int index);
    void activationCodeReceived(const QString& code);

    struct Ui;
    AppViewModel& m_appViewModel;
    std::unique_ptr<CreateAccountViewModel> m_viewModel;
    std::unique_ptr<Ui> m_ui;
    Stage m_stage = Stage::enrolment;
    QString m_newPin;
    QString m_confirmPin;
    bool m_stageUpdatePending = false;
    rx::CancellableSet m_subscriptions;
};
