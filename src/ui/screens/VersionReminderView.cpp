#include "VersionReminderView.h"

#include "app/AppViewModel.h"
#include "ui/controls/AppFont.h"
#include "ui/controls/Artwork.h"
#include "ui/controls/ButtonLook.h"
#include "ui/controls/SemanticColor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace {

QLabel* textLine(const QString& text, FontFace face, int points, const QString& colorName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(appFont(face, points));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, namedColor(colorName));
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// An image of the artwork at the size it was drawn at.
QLabel* imageLine(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    const QSize natural = QSvgRenderer(QStringLiteral(":/artwork/%1.svg").arg(name)).defaultSize();
    label->setPixmap(artwork(name, natural, {}, parent->devicePixelRatioF()));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// The column at the leading side of the window, centred vertically.
QWidget* variantPage(QWidget* column, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(VersionReminderView::leadingPadding, 0, 0, 0);
    row->addWidget(column, 0, Qt::AlignVCenter);
    row->addStretch(1);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addStretch(1);
    outer->addLayout(row);
    outer->addStretch(1);
    return page;
}

} // namespace

VersionReminderView::VersionReminderView(AppViewModel& appViewModel, QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel) {
    setObjectName(QStringLiteral("versionReminderView"));

    auto* reminderColumn = new QWidget;
    auto* reminder = new QVBoxLayout(reminderColumn);
    reminder->setContentsMargins(0, 0, 0, 0);
    reminder->setSpacing(reminderSpacing);
    reminder->addWidget(imageLine(QStringLiteral("downloadCloud"), reminderColumn), 0, Qt::AlignHCenter);
    m_latestVersion = textLine({}, FontFace::regular, 14, QStringLiteral("LightGray"), reminderColumn);
    m_latestVersion->setObjectName(QStringLiteral("latestVersion"));
    reminder->addWidget(m_latestVersion, 0, Qt::AlignHCenter);
    reminder->addWidget(textLine(tr("Latest version available!"), FontFace::medium, 16,
                                 QStringLiteral("PureWhite"), reminderColumn),
                        0, Qt::AlignHCenter);
    reminder->addWidget(textLine(tr("Contact your admin to get the update"), FontFace::regular, 12,
                                 QStringLiteral("LightGray"), reminderColumn),
                        0, Qt::AlignHCenter);
    m_remindMeLater = new QPushButton(tr("Remind me later"), reminderColumn);
    m_remindMeLater->setObjectName(QStringLiteral("remindMeLater"));
    prepareStyledButton(*m_remindMeLater, appFont(FontFace::medium, 14));
    m_remindMeLater->setFlat(true);
    m_remindMeLater->setStyleSheet(
        QStringLiteral("QPushButton { background: transparent; border: none; padding: 0; color: %1; }")
            .arg(cssColor(namedColor(QStringLiteral("Yellow")))));
    m_remindMeLater->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    reminder->addWidget(m_remindMeLater, 0, Qt::AlignHCenter);
    connect(m_remindMeLater, &QPushButton::clicked, this,
            [this] { m_appViewModel.appConfigState = LaunchConfigurationState::loading; });

    auto* noticeColumn = new QWidget;
    auto* notice = new QVBoxLayout(noticeColumn);
    notice->setContentsMargins(0, 0, 0, 0);
    notice->setSpacing(noticeSpacing);
    notice->addWidget(imageLine(QStringLiteral("errorClose"), noticeColumn), 0, Qt::AlignHCenter);
    notice->addWidget(textLine(tr("This version of the app is no longer supported."), FontFace::medium, 12,
                               QStringLiteral("PureWhite"), noticeColumn),
                      0, Qt::AlignHCenter);
    notice->addWidget(textLine(tr("Please update to the minimum required version"), FontFace::medium, 12,
                               QStringLiteral("LightGray"), noticeColumn),
                      0, Qt::AlignHCenter);
    m_minimumVersion = textLine({}, FontFace::bold, 14, QStringLiteral("LightGray"), noticeColumn);
    m_minimumVersion->setObjectName(QStringLiteral("minimumVersion"));
    notice->addWidget(m_minimumVersion, 0, Qt::AlignHCenter);
    notice->addWidget(textLine(tr("to ensure uninterrupted usage and"), FontFace::regular, 12,
                               QStringLiteral("LightGray"), noticeColumn),
                      0, Qt::AlignHCenter);
    notice->addWidget(textLine(tr("access to new features."), FontFace::regular, 12,
                               QStringLiteral("LightGray"), noticeColumn),
                      0, Qt::AlignHCenter);

    m_reminder = variantPage(reminderColumn, this);
    m_reminder->setObjectName(QStringLiteral("updateReminder"));
    m_notice = variantPage(noticeColumn, this);
    m_notice->setObjectName(QStringLiteral("upgradeNotice"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_reminder);
    layout->addWidget(m_notice);

    // A published value is stored after its subscribers ran: work on the value given.
    m_subscriptions.push_back(m_appViewModel.appConfigState.sink(
        [this](const std::optional<LaunchConfigurationState>& state) { showVariant(state); }));
    m_subscriptions.push_back(m_appViewModel.versionInfo.sink(
        [this](const std::optional<VersionInfo>& versionInfo) { showVersions(versionInfo); }));
}

VersionReminderView::~VersionReminderView() = default;

bool VersionReminderView::showsReminder() const {
    return !m_reminder->isHidden();
}

void VersionReminderView::showVariant(const std::optional<LaunchConfigurationState>& state) {
    const bool optional = state == LaunchConfigurationState::normalUpdate;
    m_reminder->setVisible(optional);
    m_notice->setVisible(!optional);
}

void VersionReminderView::showVersions(const std::optional<VersionInfo>& versionInfo) {
    const QString latest = versionInfo ? versionInfo->latest.value_or(QString()) : QString();
    const QString minimum = versionInfo ? versionInfo->min.value_or(QString()) : QString();
    m_latestVersion->setText(tr("QuorvaleID v%1").arg(latest));
    m_minimumVersion->setText(tr("(QuorvaleID v%1)").arg(minimum));
}
