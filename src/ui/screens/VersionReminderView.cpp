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

// A variant's column: its items centred one under the other, `spacing` apart.
QVBoxLayout* makeColumn(int spacing) {
    auto* column = new QVBoxLayout(new QWidget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

template <typename W> W* addItem(QVBoxLayout& column, W* item) {
    column.addWidget(item, 0, Qt::AlignHCenter);
    return item;
}

QLabel* addText(QVBoxLayout& column, const QString& text, FontFace face, int points,
                const QString& colorName) {
    auto* label = new QLabel(text, column.parentWidget());
    // The versions are the service's text, shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(appFont(face, points));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, namedColor(colorName));
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    return addItem(column, label);
}

// The artwork at the size it was drawn at.
QLabel* addImage(QVBoxLayout& column, const QString& name) {
    auto* label = new QLabel(column.parentWidget());
    label->setObjectName(name);
    const QSize natural = QSvgRenderer(QStringLiteral(":/artwork/%1.svg").arg(name)).defaultSize();
    label->setPixmap(artwork(name, natural, {}, column.parentWidget()->devicePixelRatioF()));
    label->setAlignment(Qt::AlignCenter);
    return addItem(column, label);
}

// The column at the leading side of the window, centred vertically.
QWidget* variantPage(QVBoxLayout* column, const QString& name, QWidget* parent) {
    auto* page = new QWidget(parent);
    page->setObjectName(name);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(VersionReminderView::leadingPadding, 0, 0, 0);
    row->addWidget(column->parentWidget(), 0, Qt::AlignVCenter);
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
    const QString lightGray = QStringLiteral("LightGray");
    const QString pureWhite = QStringLiteral("PureWhite");

    QVBoxLayout* reminder = makeColumn(reminderSpacing);
    addImage(*reminder, QStringLiteral("downloadCloud"));
    m_latestVersion = addText(*reminder, {}, FontFace::regular, 14, lightGray);
    m_latestVersion->setObjectName(QStringLiteral("latestVersion"));
    addText(*reminder, tr("Latest version available!"), FontFace::medium, 16, pureWhite);
    addText(*reminder, tr("Contact your admin to get the update"), FontFace::regular, 12, lightGray);
    m_remindMeLater = addItem(*reminder, new QPushButton(tr("Remind me later"), reminder->parentWidget()));
    m_remindMeLater->setObjectName(QStringLiteral("remindMeLater"));
    prepareStyledButton(*m_remindMeLater, appFont(FontFace::medium, 14));
    m_remindMeLater->setFlat(true);
    m_remindMeLater->setStyleSheet(
        QStringLiteral("QPushButton { background: transparent; border: none; padding: 0; color: %1; }")
            .arg(cssColor(namedColor(QStringLiteral("Yellow")))));
    m_remindMeLater->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_remindMeLater, &QPushButton::clicked, this,
            [this] { m_appViewModel.appConfigState = LaunchConfigurationState::loading; });

    QVBoxLayout* notice = makeColumn(noticeSpacing);
    addImage(*notice, QStringLiteral("errorClose"));
    addText(*notice, tr("This version of the app is no longer supported."), FontFace::medium, 12, pureWhite);
    addText(*notice, tr("Please update to the minimum required version"), FontFace::medium, 12, lightGray);
    m_minimumVersion = addText(*notice, {}, FontFace::bold, 14, lightGray);
    m_minimumVersion->setObjectName(QStringLiteral("minimumVersion"));
    addText(*notice, tr("to ensure uninterrupted usage and"), FontFace::regular, 12, lightGray);
    addText(*notice, tr("access to new features."), FontFace::regular, 12, lightGray);

    m_reminder = variantPage(reminder, QStringLiteral("updateReminder"), this);
    m_notice = variantPage(notice, QStringLiteral("upgradeNotice"), this);

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
