#include "UnderlinedTextField.h"

#include "AppFont.h"
#include "CustomTextField.h"
#include "InfoTooltipButton.h"
#include "RequiredMark.h"
#include "SemanticColor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// The mark sits a little above the title's centre line.
constexpr int markRaise = 3;

} // namespace

const QString UnderlinedTextField::codeTooltip =
    QStringLiteral("For web login, copy and paste the QR code shown on the page. \n"
                   "For caller authentication, type the code provided by Helpdesk.");

UnderlinedTextField::UnderlinedTextField(const QString& title, std::optional<TextFieldType> textFieldType,
                                         QWidget* parent)
    : QWidget(parent) {
    setFixedWidth(lineWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    auto* titleRow = new QHBoxLayout;
    const bool isCode = textFieldType == TextFieldType(TextFieldType::enterCode);
    if (!isCode) {
        m_requiredMark = new RequiredMark(this, markRaise);
        titleRow->addWidget(m_requiredMark, 0, Qt::AlignVCenter);
    }
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("title"));
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setFont(appFont(FontFace::regular, 13));
    QPalette titlePalette = titleLabel->palette();
    titlePalette.setColor(QPalette::WindowText, namedColor(QStringLiteral("DarkGray")));
    titleLabel->setPalette(titlePalette);
    titleRow->addWidget(titleLabel);
    if (isCode) {
        m_infoButton = new InfoTooltipButton(codeTooltip, std::nullopt, this);
        titleRow->addWidget(m_infoButton);
    }
    titleRow->addStretch();
    column->addLayout(titleRow);

    m_field = new CustomTextField(false, Qt::AlignLeft | Qt::AlignVCenter, this);
    m_field->setFont(appFont(FontFace::regular, 12));
    QPalette fieldPalette = m_field->palette();
    fieldPalette.setColor(QPalette::Text, Qt::white);
    m_field->setPalette(fieldPalette);
    m_field->setStyleSheet(m_field->styleSheet() + QStringLiteral(" QLineEdit { color: white; }"));
    connect(m_field, &CustomTextField::textWritten, this, &UnderlinedTextField::textWritten);
    column->addWidget(m_field);

    auto* underline = new QWidget(this);
    underline->setObjectName(QStringLiteral("underline"));
    underline->setFixedHeight(1);
    underline->setAutoFillBackground(true);
    QPalette linePalette = underline->palette();
    linePalette.setColor(QPalette::Window, namedColor(QStringLiteral("DarkGray")));
    underline->setPalette(linePalette);
    column->addWidget(underline);
}

QString UnderlinedTextField::text() const {
    return m_field->text();
}

void UnderlinedTextField::setText(const QString& text) {
    if (m_field->text() != text)
        m_field->setText(text);
}

void UnderlinedTextField::setOnTap(std::function<void()> onTap) {
    m_field->setTapAction(std::move(onTap));
}
