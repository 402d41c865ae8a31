#include "ErrorMessageView.h"

#include "AppFont.h"
#include "Artwork.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

constexpr int topPadding = 10;
// The symbols' natural size beside 11-point text.
constexpr QSize iconSize(14, 14);

} // namespace

ErrorMessageView::ErrorMessageView(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("errorMessageView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    m_row = new QWidget(this);
    auto* row = new QHBoxLayout(m_row);
    row->setContentsMargins(0, topPadding, 0, 0);

    auto* iconColumn = new QVBoxLayout;
    m_icon = new QLabel(m_row);
    m_icon->setObjectName(QStringLiteral("statusIcon"));
    m_icon->setFixedSize(iconSize);
    iconColumn->addWidget(m_icon);
    iconColumn->addStretch();
    row->addLayout(iconColumn);

    m_message = new QLabel(m_row);
    m_message->setObjectName(QStringLiteral("statusMessage"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_message->setFont(appFont(FontFace::regular, 11));
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    m_message->setPalette(palette);
    m_message->setTextInteractionFlags(Qt::NoTextInteraction);
    row->addWidget(m_message, 1);
    outer->addWidget(m_row);
    // Room beyond the message's own height stays below it.
    outer->addStretch(1);

    setMessage(QString());
}

void ErrorMessageView::setMessage(const QString& errorMessage, std::optional<bool> isSuccess) {
    m_errorMessage = errorMessage;
    m_isSuccess = isSuccess;
    if (errorMessage.isEmpty()) {
        m_row->hide();
        setMinimumWidth(0);
        setMaximumWidth(QWIDGETSIZE_MAX);
        setFixedHeight(emptyHeight);
        return;
    }
    const bool success = isSuccess.value_or(false);
    const QString symbol =
        success ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("exclamationmark.triangle.fill");
    m_icon->setAccessibleName(symbol);
    m_icon->setPixmap(artwork(symbol, iconSize, success ? QColor(Qt::green) : QColor(Qt::red), devicePixelRatioF()));
    m_message->setText(errorMessage);
    setFixedWidth(messageWidth);
    // The height follows from the wrapped text at the fixed width, whatever layout holds the line.
    const QMargins margins = m_row->layout()->contentsMargins();
    const int textWidth = messageWidth - iconSize.width() - m_row->layout()->spacing();
    m_message->setFixedWidth(textWidth);
    const int textHeight = m_message->heightForWidth(textWidth);
    m_message->setFixedHeight(textHeight);
    // Never shorter than the blank line: a message that comes or goes moves nothing around it, also
    // in a stack that is centred rather than hung from the top.
    setFixedHeight(qMax(emptyHeight, margins.top() + qMax(iconSize.height(), textHeight) + margins.bottom()));
    m_row->show();
}
