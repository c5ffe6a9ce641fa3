#include "elided_label.h"

#include <QPainter>
#include <QStyle>
#include <QTextDocument>

namespace vantrel {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::SetMessage(const QString& text) {
    setText(text);
    UpdateToolTip();
}

bool ElidedLabel::Elided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QSize ElidedLabel::sizeHint() const {
    return QSize(0, QLabel::sizeHint().height());
}

QSize ElidedLabel::minimumSizeHint() const {
    return QSize(0, QLabel::minimumSizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect area = contentsRect();
    QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(), shown,
                          foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    UpdateToolTip();
}

void ElidedLabel::UpdateToolTip() {
    // a tool tip is rich text whenever it looks like some: this one shows the message as it is
    setToolTip(Elided() ? Qt::convertFromPlainText(text(), Qt::WhiteSpaceNoWrap) : QString());
}

}  // namespace vantrel
