#include "SuggestionTextFieldMenu.h"

#include "AppFont.h"
#include "SemanticColor.h"

#include <QEvent>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScrollArea>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QStringList fruitNames{
    QStringLiteral("Apple"),    QStringLiteral("Peach"),      QStringLiteral("Orange"),
    QStringLiteral("Banana"),   QStringLiteral("Melon"),      QStringLiteral("Watermelon"),
    QStringLiteral("Mandarin"), QStringLiteral("Mulberries"), QStringLiteral("Lemon"),
    QStringLiteral("Lime"),     QStringLiteral("Loquat"),     QStringLiteral("Longan"),
    QStringLiteral("Lychee"),   QStringLiteral("Grape"),      QStringLiteral("Pear"),
    QStringLiteral("Kiwi"),     QStringLiteral("Mango"),
};

constexpr int rowHeight = 50;
constexpr int visibleRows = 3;
constexpr int rowPadding = 25;
constexpr int dividerInset = 10;
constexpr int sidePadding = 25;
constexpr qreal cornerRadius = 15;
constexpr qreal shadowRadius = 4;
constexpr qreal shadowOpacity = 0.33;

// The first user-perceived character of a text; empty for an empty text.
QString firstCharacter(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return end > 0 ? text.left(end) : QString();
}

} // namespace

SuggestionTextFieldMenu::SuggestionTextFieldMenu(rx::Published<bool>& editing,
                                                 rx::Published<QString>& inputText, QWidget* parent)
    : SuggestionTextFieldMenu(editing, inputText, 0, 0, parent) {}

SuggestionTextFieldMenu::SuggestionTextFieldMenu(rx::Published<bool>& editing,
                                                 rx::Published<QString>& inputText, qreal verticalOffset,
                                                 qreal horizontalOffset, QWidget* parent)
    : QWidget(parent)
    , m_names(fruitNames)
    , m_editing(editing)
    , m_inputText(inputText)
    , m_verticalOffset(verticalOffset)
    , m_horizontalOffset(horizontalOffset) {
    // The card: white, rounded, with its shadow; it holds the scrolling rows.
    auto* card = new QFrame(this);
    m_card = card;
    card->setObjectName(QStringLiteral("suggestionCard"));
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setBlurRadius(shadowRadius * 2);
    shadow->setOffset(0, 0);
    QColor shadowColor = color(SemanticColor::black);
    shadowColor.setAlphaF(shadowOpacity);
    shadow->setColor(shadowColor);
    card->setGraphicsEffect(shadow);

    m_scrollArea = new QScrollArea(card);
    m_scrollArea->setObjectName(QStringLiteral("suggestions"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(true);
    QPalette palette = m_scrollArea->palette();
    palette.setColor(QPalette::Window, color(SemanticColor::white));
    palette.setColor(QPalette::Base, color(SemanticColor::white));
    palette.setColor(QPalette::WindowText, color(SemanticColor::black));
    palette.setColor(QPalette::Text, color(SemanticColor::black));
    m_scrollArea->setPalette(palette);
    m_scrollArea->setAutoFillBackground(true);
    m_scrollArea->installEventFilter(this);

    m_rows = new QWidget;
    m_rows->setPalette(palette);
    m_rows->setAutoFillBackground(true);
    m_rowLayout = new QVBoxLayout(m_rows);
    m_rowLayout->setContentsMargins(0, 0, 0, 0);
    m_rowLayout->setSpacing(0);
    m_rowLayout->addStretch(1);
    m_scrollArea->setWidget(m_rows);

    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->addWidget(m_scrollArea);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_inputText.sink([this](const QString& text) { rebuild(text); }).store(m_subscriptions);
    m_editing.sink([this](bool editing) { applyEditing(editing); }).store(m_subscriptions);
    placeCard();
}

SuggestionTextFieldMenu::~SuggestionTextFieldMenu() {
    // The card may live in the holding widget, which outlives this one.
    delete m_card;
}

QSize SuggestionTextFieldMenu::sizeHint() const {
    return QSize(2 * sidePadding, maximumListHeight(m_shown.size()));
}

void SuggestionTextFieldMenu::placeCard() {
    // In the holding widget the card can stand above or beside this widget's place; a list without a
    // holder draws within its own area.
    if (!m_card)
        return;
    QWidget* holder = parentWidget() ? parentWidget() : this;
    if (m_card->parentWidget() != holder)
        m_card->setParent(holder);
    const QPoint origin = holder == this ? QPoint() : pos();
    m_card->setGeometry(origin.x() + qRound(sidePadding + m_horizontalOffset),
                        origin.y() + qRound(m_verticalOffset), std::max(0, width() - 2 * sidePadding),
                        maximumListHeight(m_shown.size()));
    m_card->setVisible(isVisible());
    m_card->raise();
}

bool SuggestionTextFieldMenu::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
        placeCard();
        break;
    default:
        break;
    }
    return handled;
}

QStringList SuggestionTextFieldMenu::suggestions(const QStringList& names, const QString& input) {
    if (input.isEmpty())
        return {};
    const QString first = firstCharacter(input);
    QStringList result;
    for (const QString& name : names)
        if (name.contains(input, Qt::CaseSensitive) && name.startsWith(first, Qt::CaseSensitive))
            result.append(name);
    return result;
}

int SuggestionTextFieldMenu::maximumListHeight(qsizetype count) {
    return rowHeight * static_cast<int>(std::min<qsizetype>(count, visibleRows));
}

void SuggestionTextFieldMenu::pick(const QString& suggestion) {
    m_inputText = suggestion;
    m_editing = false;
}

void SuggestionTextFieldMenu::rebuild(const QString& input) {
    m_shown = suggestions(m_names, input);
    // A pick rebuilds the rows from inside the click on one of them, so the old rows go later.
    // The trailing stretch stays.
    while (m_rowLayout->count() > 1) {
        QLayoutItem* item = m_rowLayout->takeAt(0);
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    qsizetype at = 0;
    for (const QString& name : std::as_const(m_shown)) {
        auto* label = new QLabel(name);
        label->setObjectName(name);
        label->setTextFormat(Qt::PlainText);
        label->setFont(appFont(FontFace::regular, 13));
        // The 25 points above and below meet the row's 50-point cap, which keeps one line of text in the
        // middle; the 25 points at the sides stay.
        label->setContentsMargins(rowPadding, 0, rowPadding, 0);
        label->setFixedHeight(rowHeight);
        label->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        m_rowLayout->insertWidget(at++, label);

        auto* divider = new QWidget;
        auto* dividerLayout = new QHBoxLayout(divider);
        dividerLayout->setContentsMargins(dividerInset, 0, dividerInset, 0);
        auto* line = new QFrame(divider);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        dividerLayout->addWidget(line);
        m_rowLayout->insertWidget(at++, divider);
    }
    m_scrollArea->setFixedHeight(maximumListHeight(m_shown.size()));
    // Up to three rows the list shows them all and only their dividers pass its height: a scroll bar there
    // would offer a few pixels of scrolling and crowd the one row. Beyond three the list scrolls.
    m_scrollArea->setVerticalScrollBarPolicy(m_shown.size() > visibleRows ? Qt::ScrollBarAlwaysOn
                                                                          : Qt::ScrollBarAlwaysOff);
    updateGeometry();
    placeCard();
}

void SuggestionTextFieldMenu::applyEditing(bool editing) {
    setVisible(editing);
}

bool SuggestionTextFieldMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_scrollArea && event->type() == QEvent::Resize) {
        QPainterPath rounded;
        rounded.addRoundedRect(m_scrollArea->rect(), cornerRadius, cornerRadius);
        m_scrollArea->setMask(QRegion(rounded.toFillPolygon().toPolygon()));
    } else if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* label = qobject_cast<QLabel*>(watched);
        if (label && mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            pick(label->text());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
