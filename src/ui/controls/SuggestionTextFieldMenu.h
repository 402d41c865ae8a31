#pragma once

#include "platform/Published.h"

#include <QStringList>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;

// A drop-down of names that fit what has been typed into a text field, meant to sit under that field. It
// shows while the caller's `editing` flag is true; a click on a name writes it into the caller's text and
// clears `editing`, which closes the list.
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild(const QString& input);
    void applyEditing(bool editing);

    QStringList m_names;
    rx::Published<bool>& m_editing;
    rx::Published<QString>& m_inputText;
    qreal m_verticalOffset = 0;
    qreal m_horizontalOffset = 0;
    QStringList m_shown;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_rows = nullptr;
    QVBoxLayout* m_rowLayout = nullptr;
    rx::CancellableSet m_subscriptions;
};
