#include "RemoveUserView.h"

#include "app/AppViewModel.h"
#include "flows/RemoveUserViewModel.h"

RemoveUserView::RemoveUserView(AppViewModel& appViewModel, std::unique_ptr<RemoveUserViewModel> viewModel,
                               QWidget* parent)
    : ConfirmationDialogView(
          appViewModel, content(),
          [model = viewModel.get(), &appViewModel] {
              // A removal already on its way is not sent twice.
              if (!appViewModel.isLoading.get())
                  model->removeUser();
          },
          [&appViewModel] {
              if (!appViewModel.isLoading.get())
                  appViewModel.currentTab = TabType::homeScreen;
          },
          parent)
    , m_viewModel(std::move(viewModel)) {
    setObjectName(QStringLiteral("RemoveUserView"));
    m_messageSubscription =
        m_viewModel->errorMessage.sink([this](const QString& message) { setErrorMessage(message); });
}

RemoveUserView::~RemoveUserView() = default;

ConfirmationDialogView::Content RemoveUserView::content() {
    return Content{
        {Line{tr("Are you sure you want to remove"), FontFace::bold, 14},
         Line{tr("yourself from the device?"), FontFace::bold, 14},
         Line{tr("You will be logged out if you continue"), FontFace::regular, 13}},
        tr("Yes"),
        Field::removeYes,
        tr("Cancel"),
        Field::removeNo,
        Field::authCode,
    };
}
