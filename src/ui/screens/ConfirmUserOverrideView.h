#pragma once

#include "platform/Cancellable.h"
#include "ui/controls/ConfirmationDialogView.h"

class AppViewModel;
class CreateAccountViewModel;

// The register-anew question, shown by the registration screen in place of its form when the address is
// already enrolled here: "Yes" erases the enrolled users of that address and organisation and goes on to
// the PIN, "No" empties the form. It works on the registration screen's own flow object.
class ConfirmUserOverrideView : public ConfirmationDialogView {
    Q_OBJECT

public:
    // `viewModel` and `appViewModel` must outlive the dialog.
    ConfirmUserOverrideView(CreateAccountViewModel& viewModel, AppViewModel& appViewModel,
                            QWidget* parent = nullptr);
    ~ConfirmUserOverrideView() override;

private:
    static Content content();

    rx::AnyCancellable m_messageSubscription;
};
