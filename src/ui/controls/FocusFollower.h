#pragma once

#include "app/Field.h"
#include "platform/Cancellable.h"

#include <QObject>
#include <QPointer>
#include <QSize>

#include <optional>

class AppViewModel;
class QWidget;

// Makes one control follow the app state's focused field (AppViewModel::focusedFieldPublisher) for its
// Field. Parented to the control; the AppViewModel must outlive it.
//
// - A frame follower (buttons, lists, check boxes, links) draws the dashed focus frame, white, 1 point,
//   5 on 5 off, square corners, along the control's edge while the field is published, and parks the
//   keyboard in the window's FocusSink so no text field keeps it.
// - A keyboard follower (text fields, code rows) gives the control Qt's keyboard focus when its field is
//   published, and gives it up to the FocusSink when another value or none is published.
//
// Neither moves the focused field: only AppViewModel::setFocusedField() does.
class FocusFollower : public QObject {
    Q_OBJECT

public:
    enum class Kind { frame, keyboard };

    // `outline`: the frame's own size, centred on the control, where it is not the control's edge.
    FocusFollower(AppViewModel& appViewModel, Field field, QWidget* control, Kind kind,
                  std::optional<QSize> outline = std::nullopt);
    ~FocusFollower() override;

    static FocusFollower* frame(AppViewModel& appViewModel, Field field, QWidget* control,
                                std::optional<QSize> outline = std::nullopt) {
        return new FocusFollower(appViewModel, field, control, Kind::frame, outline);
    }
    static FocusFollower* keyboard(AppViewModel& appViewModel, Field field, QWidget* control) {
        return new FocusFollower(appViewModel, field, control, Kind::keyboard);
    }

    Field field() const { return m_field; }
    // True while the focused field is this follower's.
    bool holdsFocus() const { return m_holdsFocus; }

signals:
    void focusChanged(bool holdsFocus);

private:
    void apply(const std::optional<Field>& published);

    Field m_field;
    QPointer<QWidget> m_control;
    Kind m_kind;
    QWidget* m_frame = nullptr;
    bool m_holdsFocus = false;
    rx::AnyCancellable m_subscription;
};
