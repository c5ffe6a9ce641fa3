#pragma once

// A one-line label that never asks for more width than it is given, so that a long message cannot widen its
// window: a text too long for the label is cut with an ellipsis and its tool tip holds the whole text. The
// text is always shown as plain text, also in the tool tip.

#include <QLabel>

namespace vantrel {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // Shows text; text() gives it back whole.
    void SetMessage(const QString& text);
    // The text does not fit the label's width and is shown cut.
    bool Elided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateToolTip();
};

}  // namespace vantrel
