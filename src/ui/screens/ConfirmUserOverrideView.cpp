#include "ConfirmUserOverrideView.h"

#include "flows/CreateAccountViewModel.h"

namespace {

constexpr qreal linePoints = 12;

ConfirmationDialogView::Content content() {
    return {
        {{
            {QStringLiteral("This email ID is already registered."), FontFace::bold, linePoints},
            {QStringLiteral("Would you like to register as a new user"), FontFace::bold, linePoints},
            {QStringLiteral("and erase all existing user data?"), FontFace::bold, linePoints},
        }},
        QStringLiteral("Yes"),
        Field::userDeletetionYes,
        QStringLiteral("No"),
        Field::userDeletionNo,
        Field::regOrgEmail,
    };
}

} // namespace

ConfirmUserOverrideView::ConfirmUserOverrideView(CreateAccountViewModel& viewModel,
                                                 AppViewModel& appViewModel, QWidget* parent)
    : ConfirmationDialogView(
          appViewModel, content(), [&viewModel] { viewModel.deleteExistingUser(); },
          [&viewModel] { viewModel.resetForm(); }, parent) {
    setObjectName(QStringLiteral("confirmUserOverrideView"));
    m_messageSubscription =
        viewModel.errorMessage.sink([this](const QString& message) { setErrorMessage(message); });
}

ConfirmUserOverrideView::~ConfirmUserOverrideView() = default;
