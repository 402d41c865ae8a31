#include "OTPFieldView.h"

#include "AppFont.h"
#include "CustomTextField.h"
#include "FocusSink.h"
#include "KeyMonitor.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace {

// Only 0-9: a sign, other scripts' digits or any other character would put something in a PIN or code
// that is not one.
bool isAsciiDigits(const QString& text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Backspace acts on the first seven boxes only.
constexpr int lastBackspaceBox = 6;

} // namespace

OTPFieldView::OTPFieldView(int numberOfFields, bool isSecure, QWidget* parent)
    : QWidget(parent)
    , m_isSecure(isSecure) {
    setObjectName(QStringLiteral("codeBoxes"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, paddingBelow);
    row->setSpacing(spacing);
    for (int index = 0; index < std::max(0, numberOfFields); ++index) {
        auto* box = new CustomTextField(isSecure, Qt::AlignCenter, this);
        box->setObjectName(QStringLiteral("box%1").arg(index));
        box->setFont(appFont(FontFace::medium, 14));
        box->setStyleSheet(box->styleSheet() + QStringLiteral(" QLineEdit { color: white; }"));
        box->setMinimumWidth(12);
        connect(box, &CustomTextField::textWritten, this, [this, index](const QString& text) { boxChanged(index, text); });
        row->addWidget(box);
        m_boxes.push_back(box);
    }
    if (!m_boxes.empty())
        setFocusProxy(m_boxes.front());
    m_keyMonitor = new KeyMonitor(this, [this](QKeyEvent& event) { return handleKeyDown(event); });
}

OTPFieldView::~OTPFieldView() = default;

void OTPFieldView::setOnTap(std::function<void()> onTap) {
    for (CustomTextField* box : m_boxes)
        box->setTapAction(onTap);
}

void OTPFieldView::setSecure(bool isSecure) {
    m_isSecure = isSecure;
    for (CustomTextField* box : m_boxes)
        box->setEchoMode(isSecure ? QLineEdit::Password : QLineEdit::Normal);
}

std::optional<int> OTPFieldView::focusedBox() const {
    const auto found = std::find(m_boxes.begin(), m_boxes.end(), QApplication::focusWidget());
    if (found == m_boxes.end())
        return std::nullopt;
    return static_cast<int>(found - m_boxes.begin());
}

void OTPFieldView::setFocusedBox(std::optional<int> index) {
    if (index)
        box(*index)->setFocus(Qt::OtherFocusReason);
    else if (focusedBox())
        FocusSink::park(this);
}

void OTPFieldView::writeOtp(const QString& otp) {
    if (otp == m_otp)
        return;
    m_otp = otp;
    emit otpChanged(m_otp);
}

void OTPFieldView::rejoin() {
    QString joined;
    for (CustomTextField* box : m_boxes)
        joined += box->text();
    writeOtp(joined);
}

void OTPFieldView::reportLater(int index) {
    QTimer::singleShot(0, this, [this, index] {
        if (m_onValueChange && index < numberOfFields())
            m_onValueChange(box(index)->text(), index);
    });
}

void OTPFieldView::boxChanged(int index, const QString& text) {
    const int count = numberOfFields();
    if (!isAsciiDigits(text)) {
        box(index)->setText(QString());
        reportLater(index);
        return;
    }
    if (text.size() == count) {
        writeOtp(text);
        for (int i = 0; i < count; ++i) {
            box(i)->setText(text.mid(i, 1));
            if (m_onValueChange)
                m_onValueChange(text.mid(i, 1), i);
        }
        QTimer::singleShot(0, this, [this] { setFocusedBox(std::nullopt); });
        rejoin();
        return;
    }
    if (text.size() > 1) {
        // Several characters at once in one box: keep the first, as if only it had been typed.
        box(index)->setText(text.left(1));
    }
    if (index < count - 1)
        setFocusedBox(index + 1);
    rejoin();
    reportLater(index);
}

bool OTPFieldView::handleKeyDown(QKeyEvent& event) {
    if (event.key() != Qt::Key_Backspace)
        return false;
    const std::optional<int> focused = focusedBox();
    if (focused && *focused <= lastBackspaceBox) {
        box(*focused)->setText(QString());
        setFocusedBox(std::max(0, *focused - 1));
    }
    rejoin();
    // The focused box still gets the key; it holds nothing to delete any more.
    return false;
}

void OTPFieldView::setOtp(const QString& otp) {
    m_otp = otp;
    if (!otp.isEmpty())
        return;
    for (CustomTextField* box : m_boxes)
        box->setText(QString());
    if (focusedBox() != 0)
        setFocusedBox(std::nullopt);
}

void OTPFieldView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    for (int i = 0; i < std::min<int>(numberOfFields(), static_cast<int>(m_otp.size())); ++i)
        box(i)->setText(m_otp.mid(i, 1));
}

void OTPFieldView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (CustomTextField* box : m_boxes) {
        const QRect area = box->geometry();
        const int y = area.center().y() + underlineOffset;
        painter.fillRect(QRect(area.left(), y, area.width(), 1), QColor(Qt::gray));
    }
}
