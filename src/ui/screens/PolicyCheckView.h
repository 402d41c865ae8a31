#pragma once

#include "platform/Published.h"

#include <QWidget>

class AppViewModel;
class QKeyEvent;
class QPushButton;

// The consent row of the registration's first stage: a check box and the sentence that links the terms of
// service and the privacy policy, which open in the default browser. Its three controls follow the focused
// field and act on Return, which the row always passes on.
class PolicyCheckView : public QWidget {
    Q_OBJECT

public:
    static const QString termsOfServiceURL;
    static const QString privacyPolicyURL;

    // `isChecked` (the consent, owned by the enrolment flow) and `appViewModel` must outlive the row.
    PolicyCheckView(rx::Published<bool>& isChecked, AppViewModel& appViewModel, QWidget* parent = nullptr);
    ~PolicyCheckView() override;

    // Opens `address` in the default browser; a text that is no valid web address opens nothing.
    static void openLink(const QString& address);

private:
    bool handleReturnKey(QKeyEvent* event);
    void toggle();

    rx::Published<bool>& m_isChecked;
    AppViewModel& m_appViewModel;
    QPushButton* m_checkBox;
    rx::CancellableSet m_subscriptions;
};
