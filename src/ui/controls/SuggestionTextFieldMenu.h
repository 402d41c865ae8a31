#pragma once

#include "platform/Published.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;

// A drop-down of names that fit what has been typed into a text field, meant to sit under that field. It
// shows while the caller's `editing` flag is true; a click on a name writes it into the caller's text and
// clears `editing`, which closes the list.
//
// The widget is the place the list is given; the list itself (a white card) is drawn moved by the offsets
// from there, like a layer over its neighbours, so it may stand above or beside that place too.
class SuggestionTextFieldMenu : public QWidget {
    Q_OBJECT

public:
    // `editing` and `inputText` belong to the caller and must outlive this widget.
    SuggestionTextFieldMenu(rx::Published<bool>& editing, rx::Published<QString>& inputText,
                            QWidget* parent = nullptr);
    SuggestionTextFieldMenu(rx::Published<bool>& editing, rx::Published<QString>& inputText,
                            qreal verticalOffset, qreal horizontalOffset, QWidget* parent = nullptr);
    ~SuggestionTextFieldMenu() override;

    // The names of `names`, in their order, that contain `input` (case-sensitive) and begin with its first
    // character; none for an empty input.
    static QStringList suggestions(const QStringList& names, const QString& input);
    // The height the list may take for `count` suggestions; more than fit scroll.
    static int maximumListHeight(qsizetype count);

    const QStringList& names() const { return m_names; }
    // The suggestions on display, in order.
    const QStringList& shownSuggestions() const { return m_shown; }
    qreal verticalOffset() const { return m_verticalOffset; }
    qreal horizontalOffset() const { return m_horizontalOffset; }
    // Puts `suggestion` into the caller's text and closes the list.
    void pick(const QString& suggestion);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild(const QString& input);
    void applyEditing(bool editing);
    // Puts the card where the offsets move it, in the widget that holds this one.
    void placeCard();

    QStringList m_names;
    rx::Published<bool>& m_editing;
    rx::Published<QString>& m_inputText;
    qreal m_verticalOffset = 0;
    qreal m_horizontalOffset = 0;
    QStringList m_shown;
    // Owned by this widget, though a child of the widget that holds it (see placeCard()).
    QPointer<QWidget> m_card;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_rows = nullptr;
    QVBoxLayout* m_rowLayout = nullptr;
    rx::CancellableSet m_subscriptions;
};
