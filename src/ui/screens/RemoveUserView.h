#pragma once

#include "platform/Cancellable.h"
#include "ui/controls/ConfirmationDialogView.h"

#include <memory>

class AppViewModel;
class RemoveUserViewModel;

// The signed-in user confirms removing themselves from this device. Yes sends the removal through the
// view model; Cancel goes back to the home screen.
class RemoveUserView : public ConfirmationDialogView {
    Q_OBJECT

public:
    RemoveUserView(AppViewModel& appViewModel, std::unique_ptr<RemoveUserViewModel> viewModel,
                   QWidget* parent = nullptr);
    ~RemoveUserView() override;

    RemoveUserViewModel& viewModel() const { return *m_viewModel; }

private:
    static Content content();

    std::unique_ptr<RemoveUserViewModel> m_viewModel;
    rx::AnyCancellable m_messageSubscription;
};
