#pragma once

#include <QWidget>

#include <functional>

// A keyboard catcher: takes the keyboard whenever it is shown (one event-loop turn later) and turns Return
// into `onEnterPressed`; every other key it drops.
class KeyPressHandlingView : public QWidget {
    Q_OBJECT

public:
    explicit KeyPressHandlingView(std::function<void()> onEnterPressed, QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::function<void()> m_onEnterPressed;
};
