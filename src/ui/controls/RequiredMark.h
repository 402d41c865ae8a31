#pragma once

#include <QWidget>

// The required-field mark: a 5-point "staroflife.fill" in "primaryYellow", drawn `raise` points above
// the centre of the row it sits in.
class RequiredMark : public QWidget {
    Q_OBJECT

public:
    explicit RequiredMark(QWidget* parent = nullptr, int raise = 0);

    static constexpr int side = 5;

protected:
    void paintEvent(QPaintEvent* event) override;
};
