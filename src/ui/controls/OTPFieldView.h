#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class CustomTextField;
class KeyMonitor;

// A row of one-character boxes for a PIN or a code. Only the ASCII digits 0-9 are accepted: a digit moves
// the keyboard on to the next box, anything else empties the box; a code of full length pasted into any
// box is spread over all boxes (a paste with any other character is refused whole); Backspace empties
// the focused box and moves back. The bound code, otp(), is the boxes joined.
class OTPFieldView : public QWidget {
    Q_OBJECT

public:
    OTPFieldView(int numberOfFields, bool isSecure, QWidget* parent = nullptr);
    ~OTPFieldView() override;

    static constexpr int spacing = 15;
    static constexpr int paddingBelow = 8;
    static constexpr int underlineOffset = 15;

    int numberOfFields() const { return static_cast<int>(m_boxes.size()); }
    QString otp() const { return m_otp; }
    // The owner's change of the code. An empty code empties every box (plain or secret) and takes the
    // keyboard from the row unless the first box has it. Other codes reach the boxes when the row is
    // shown.
    void setOtp(const QString& otp);

    bool isSecure() const { return m_isSecure; }
    // Shows the boxes as dots or plain; what they hold stays.
    void setSecure(bool isSecure);

    // Runs when a box is clicked or editing begins in it.
    void setOnTap(std::function<void()> onTap);
    // Runs with a box's new text and its index: one turn of the event loop after a typed change, at once
    // for each box filled by a pasted code.
    void setOnValueChange(std::function<void(const QString&, int)> onValueChange) {
        m_onValueChange = std::move(onValueChange);
    }

    CustomTextField* box(int index) const { return m_boxes.at(static_cast<size_t>(index)); }
    // The box that has the keyboard, or none.
    std::optional<int> focusedBox() const;

signals:
    // The row changed the bound code.
    void otpChanged(const QString& otp);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void boxChanged(int index, const QString& text);
    bool handleKeyDown(QKeyEvent& event);
    void writeOtp(const QString& otp);
    void rejoin();
    void setFocusedBox(std::optional<int> index);
    void reportLater(int index);

    std::vector<CustomTextField*> m_boxes;
    QString m_otp;
    bool m_isSecure;
    std::function<void(const QString&, int)> m_onValueChange;
    KeyMonitor* m_keyMonitor;
};
