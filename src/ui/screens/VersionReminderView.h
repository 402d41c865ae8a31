#pragma once

#include "api/VersionInfo.h"
#include "app/LaunchConfigurationState.h"
#include "platform/Cancellable.h"

#include <QWidget>

#include <optional>
#include <vector>

class AppViewModel;
class QLabel;
class QPushButton;

// The update screen that stands in for the whole window while a newer version exists: the optional-update
// reminder, which "Remind me later" dismisses, or the forced-update notice, which offers no way on.
// It has no key handling: the button is worked by the pointer.
class VersionReminderView : public QWidget {
    Q_OBJECT

public:
    static constexpr int leadingPadding = 40;
    static constexpr int reminderSpacing = 20;
    static constexpr int noticeSpacing = 15;

    // `appViewModel` must outlive the view.
    explicit VersionReminderView(AppViewModel& appViewModel, QWidget* parent = nullptr);
    ~VersionReminderView() override;

    // True while the optional-update reminder shows, false for the forced-update notice.
    bool showsReminder() const;

private:
    void showVariant(const std::optional<LaunchConfigurationState>& state);
    void showVersions(const std::optional<VersionInfo>& versionInfo);

    AppViewModel& m_appViewModel;
    QWidget* m_reminder;
    QWidget* m_notice;
    QLabel* m_latestVersion;
    QLabel* m_minimumVersion;
    QPushButton* m_remindMeLater;
    std::vector<rx::AnyCancellable> m_subscriptions;
};
