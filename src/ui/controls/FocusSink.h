#pragma once

#include <QWidget>

// "No first responder": an invisible widget of the window that holds the keyboard when no control should,
// so that no text field keeps taking keys. Keys that reach it go on to its parent untouched.
class FocusSink : public QWidget {
    Q_OBJECT

public:
    explicit FocusSink(QWidget* parent);

    // Gives the keyboard to the sink of `within`'s window, made there on first use.
    static void park(QWidget* within);
    // The sink of `within`'s window, or none yet.
    static FocusSink* of(QWidget* within);
};
