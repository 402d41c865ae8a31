#include "ConfirmationDialogView.h"

#include "DialogButtonStyle.h"
#include "ErrorMessageView.h"
#include "FocusFollower.h"
#include "KeyMonitor.h"
#include "SemanticColor.h"

#include "app/AppViewModel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int leadingPadding = 40;
constexpr int lineSpacingBelow[3] = {10, 10, 30};
constexpr int buttonSpacing = 20;
constexpr int buttonRowWidth = 312;
constexpr int buttonRowPaddingBelow = 40;
constexpr QSize cellSize(140, 30);

} // namespace

ConfirmationDialogView::ConfirmationDialogView(AppViewModel& appViewModel, Content content,
                                               std::function<void()> firstAction,
                                               std::function<void()> secondAction, QWidget* parent)
    : QWidget(parent)
    , m_appViewModel(appViewModel)
    , m_content(std::move(content))
    , m_firstAction(std::move(firstAction))
    , m_secondAction(std::move(secondAction)) {
    fillBackground(*this, QStringLiteral("mainBg"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(leadingPadding, 0, 0, 0);
    column->setSpacing(0);
    column->addStretch();
    for (int i = 0; i < 3; ++i) {
        const Line& line = m_content.lines[size_t(i)];
        auto* label = new QLabel(line.text, this);
        label->setObjectName(QStringLiteral("line%1").arg(i + 1));
        label->setTextFormat(Qt::PlainText);
        label->setFont(appFont(line.face, line.points));
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, namedColor(QStringLiteral("DarkGray")));
        label->setPalette(palette);
        column->addWidget(label);
        column->addSpacing(lineSpacingBelow[i]);
    }

    auto* buttonRow = new QWidget(this);
    buttonRow->setFixedWidth(buttonRowWidth);
    auto* buttons = new QHBoxLayout(buttonRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(buttonSpacing);
    buttons->addStretch();
    buttons->addWidget(
        makeButtonCell(m_content.firstCaption, m_content.firstField, [this] { m_firstAction(); }, m_firstButton));
    buttons->addWidget(makeButtonCell(m_content.secondCaption, m_content.secondField,
                                      [this] { m_secondAction(); }, m_secondButton));
    buttons->addStretch();
    column->addWidget(buttonRow);
    column->addSpacing(buttonRowPaddingBelow);

    m_statusLine = new ErrorMessageView(this);
    column->addWidget(m_statusLine);
    column->addStretch();

    new KeyMonitor(this, [this](QKeyEvent& event) { return handleKeyDown(event); });
}

ConfirmationDialogView::~ConfirmationDialogView() = default;

QWidget* ConfirmationDialogView::makeButtonCell(const QString& caption, Field field, std::function<void()> action,
                                                QPushButton*& button) {
    auto* cell = new QWidget(this);
    cell->setFixedSize(cellSize);
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    button = new QPushButton(caption, cell);
    button->setObjectName(fieldName(field));
    DialogButtonStyle{}.apply(*button);
    layout->addWidget(button, 0, Qt::AlignCenter);
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    FocusFollower::frame(m_appViewModel, field, cell);
    return cell;
}

void ConfirmationDialogView::setErrorMessage(const QString& errorMessage) {
    m_statusLine->setMessage(errorMessage);
}

void ConfirmationDialogView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        m_appViewModel.setFocusedField(m_content.firstField);
}

bool ConfirmationDialogView::handleKeyDown(QKeyEvent& event) {
    if (!isReturnKey(event) || m_appViewModel.isLoading.get())
        return false;
    const std::optional<Field> focused = m_appViewModel.focusedFieldPublisher.get();
    // The action may replace this dialog; nothing of it is touched afterwards.
    AppViewModel& appViewModel = m_appViewModel;
    if (focused == m_content.secondField) {
        const Field next = m_content.focusAfterSecond;
        const std::function<void()> action = m_secondAction;
        action();
        appViewModel.setFocusedField(next);
        return true;
    }
    if (focused == m_content.firstField) {
        const std::function<void()> action = m_firstAction;
        action();
        appViewModel.setFocusedField(Field::unfocus);
        return true;
    }
    return false;
}
