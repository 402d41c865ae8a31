#pragma once

#include "api/AuthResponse.h"
#include "app/Field.h"
#include "platform/Cancellable.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class AppViewModel;
class DropDownButtonView;
class ErrorMessageView;
class HomeViewModel;
class KeyMonitor;
class OtpFormFieldView;
class QKeyEvent;
class QPushButton;

// The unlock screen: the user picks one of the users enrolled here and types the six-digit PIN. The check,
// the attempt counting and the switch to the signed-in tabs are the view model's; this screen makes the
// chosen user the current one and hands the PIN over.
class LoginViewView : public QWidget {
    Q_OBJECT

public:
    LoginViewView(AppViewModel& appViewModel, std::unique_ptr<HomeViewModel> viewModel, QWidget* parent = nullptr);
    ~LoginViewView() override;

    HomeViewModel& viewModel() const { return *m_viewModel; }
    const std::optional<AuthResponse>& selectedOption() const { return m_selectedOption; }
    const QString& pinValue() const { return m_pinValue; }
    // The screen's own copy of the shared focus value.
    std::optional<Field> focusedField() const { return m_focusedField; }
    // Both inputs complete: the unlock button reads as ready.
    bool isUnlockReady() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void unlock();
    void pinDidChange(const QString& text, int index);
    void focusPinField();
    void applyPublishedFocus(std::optional<Field> value);
    void handleUsersReloaded(bool value);
    void resetAfterReload();
    bool handleKeyDown(const QKeyEvent& event);
    void clearStatusMessage();
    void showChooseUserMessage();
    // After an attempt that leaves the user here: the PIN is emptied and the keyboard goes to its first box.
    void startOver();
    // One step down (+1) or up (-1) in the list of users, from the chosen user's place in it.
    void moveChoice(int step);
    void setSelectedOption(std::optional<AuthResponse> option);
    void setPinValue(const QString& pin);
    // While a request is out the busy overlay shows; actions wait for it to go.
    bool isBusy() const;
    void scheduleRefresh();
    void refresh();

    AppViewModel& m_appViewModel;
    std::unique_ptr<HomeViewModel> m_viewModel;
    QString m_pinValue;
    std::optional<AuthResponse> m_selectedOption;
    std::optional<Field> m_focusedField;

    DropDownButtonView* m_chooser = nullptr;
    OtpFormFieldView* m_pinField = nullptr;
    QPushButton* m_unlockButton = nullptr;
    ErrorMessageView* m_status = nullptr;
    std::vector<rx::AnyCancellable> m_subscriptions;
    KeyMonitor* m_keyMonitor = nullptr;
    bool m_refreshQueued = false;
    std::optional<bool> m_unlockReadyShown;
};
