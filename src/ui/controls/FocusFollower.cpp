#include "FocusFollower.h"

#include "FocusFrame.h"
#include "FocusSink.h"

#include "app/AppViewModel.h"

#include <QApplication>
#include <QWidget>

FocusFollower::FocusFollower(AppViewModel& appViewModel, Field field, QWidget* control, Kind kind,
                             std::optional<QSize> outline)
    : QObject(control)
    , m_field(field)
    , m_control(control)
    , m_kind(kind) {
    if (m_kind == Kind::frame)
        m_frame = new FocusFrame(control, outline);
    m_subscription =
        appViewModel.focusedFieldPublisher.sink([this](const std::optional<Field>& published) { apply(published); });
}

FocusFollower::~FocusFollower() = default;

void FocusFollower::apply(const std::optional<Field>& published) {
    const bool holds = published == m_field;
    if (m_control) {
        if (m_kind == Kind::frame) {
            m_frame->setVisible(holds);
            // A control not on screen yet has no window whose keyboard it could take away.
            if (holds && m_control->isVisible())
                FocusSink::park(m_control);
        } else if (holds) {
            m_control->setFocus(Qt::OtherFocusReason);
        } else {
            QWidget* focused = QApplication::focusWidget();
            if (focused && (focused == m_control || m_control->isAncestorOf(focused)))
                FocusSink::park(m_control);
        }
    }
    if (holds != m_holdsFocus) {
        m_holdsFocus = holds;
        emit focusChanged(holds);
    }
}
