#include "ConfirmUserOverrideView.h"

#include "flows/CreateAccountViewModel.h"

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

ConfirmationDialogView::Content ConfirmUserOverrideView::content() {
    constexpr qreal linePoints = 12;
    return Content{
        {Line{tr("This email ID is already registered."), FontFace::bold, linePoints},
         Line{tr("Would you like to register as a new user"), FontFace::bold, linePoints},
         Line{tr("and erase all existing user data?"), FontFace::bold, linePoints}},
        tr("Yes"),
        Field::userDeletetionYes,
        tr("No"),
        Field::userDeletionNo,
        Field::regOrgEmail,
    };
}
