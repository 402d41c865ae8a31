#pragma once

#include "api/OrgCode.h"
#include "app/Field.h"
#include "platform/Cancellable.h"

#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class AppViewModel;
class ErrorMessageView;
class HomeViewModel;
class KeyMonitor;
class TooltipBubble;
class OTPFieldView;
class QKeyEvent;
class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class UnderlinedTextField;

// The home screen of the signed-in user: the code of a sign-in that started elsewhere is typed, pasted or
// brought by a link, then approved; an organisation is picked when the service asks, and a second code
// is typed when it asks for one. The approval itself is the view model's; this screen mirrors its state.
class HomeScreenView : public QWidget {
    Q_OBJECT

public:
    HomeScreenView(AppViewModel& appViewModel, std::unique_ptr<HomeViewModel> viewModel, QWidget* parent = nullptr);
    ~HomeScreenView() override;

    HomeViewModel& viewModel() const { return *m_viewModel; }
    // The main Authenticate reads as ready: an organisation chosen while the list shows, else a code typed.
    bool canAuthenticate() const;
    std::optional<Field> focusedField() const { return m_focusedField; }

    // The diagnostic line of Return on Authenticate: the code with every character masked, since standard
    // output ends up in the session's journal.
    static QString maskedCode(const QString& code);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startVerification();
    void authenticate();
    void submitSecondCode();
    void resetOrganizationChoice();
    void selectOrganization(const OrgCode& organization);
    void handleFocusChange(std::optional<Field> value);
    void handleDeepLink(const std::optional<QUrl>& value);
    bool handleKeyDown(const QKeyEvent& event);
    void moveOrganization(int step);
    bool isBusy() const;
    void subscribe();
    void scheduleRefresh();
    void refresh();
    void rebuildOrganizationRows();
    static void styleOrganizationRow(QPushButton& row, bool selected);

    AppViewModel& m_appViewModel;
    std::unique_ptr<HomeViewModel> m_viewModel;
    std::optional<Field> m_focusedField;
    bool m_refreshQueued = false;

    std::vector<OrgCode> m_shownOrganizations;
    std::optional<QString> m_shownOrgCode;
    std::optional<bool> m_authenticateReadyShown;
    std::optional<bool> m_secondCodeReadyShown;

    QStackedWidget* m_pages = nullptr;
    QLabel* m_greeting = nullptr;
    TooltipBubble* m_greetingTooltip = nullptr;
    QLabel* m_organizationTitle = nullptr;
    QWidget* m_organizationList = nullptr;
    QVBoxLayout* m_organizationRows = nullptr;
    QWidget* m_organizationSpacer = nullptr;
    std::vector<QPushButton*> m_organizationButtons;
    UnderlinedTextField* m_codeField = nullptr;
    QWidget* m_codeFieldSpacer = nullptr;
    QPushButton* m_authenticateButton = nullptr;
    QPushButton* m_backButton = nullptr;
    OTPFieldView* m_secondCodeField = nullptr;
    QPushButton* m_secondCodeButton = nullptr;
    // Each view ends with the status line.
    ErrorMessageView* m_status = nullptr;
    ErrorMessageView* m_secondStatus = nullptr;
    KeyMonitor* m_keyMonitor = nullptr;
    std::vector<rx::AnyCancellable> m_subscriptions;
};
