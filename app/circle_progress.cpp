#include "app/circle_progress.h"

#include <QPainter>

CCircleProgressUI::CCircleProgressUI(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setAlignment(Qt::AlignCenter);
}

void CCircleProgressUI::SetBkColor(const QColor& color) {
    bkColor_ = color;
    update();
}

void CCircleProgressUI::SetForeColor(const QColor& color) {
    foreColor_ = color;
    update();
}

void CCircleProgressUI::SetTextColor(const QColor& color) {
    textColor_ = color;
    update();
}

void CCircleProgressUI::SetText(const QString& text) {
    caption_ = text;
    update();
}

int CCircleProgressUI::SweepDegrees() const {
    int range = maximum() - minimum();
    // An empty range would divide by zero; a value not yet set reads below the minimum.
    if (range == 0 || value() < minimum()) return 0;
    float sweep = static_cast<float>(value()) / static_cast<float>(range) * 360.0f;
    int degrees = static_cast<int>(sweep);
    if (degrees < 0) return 0;
    return degrees > 360 ? 360 : degrees;
}

void CCircleProgressUI::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    const QRect r = rect();

    painter.setBrush(bkColor_);
    painter.drawPie(r, 0, 360 * 16);

    // Clockwise from the bottom: Qt counts counter-clockwise, so both angles are negated.
    int sweep = SweepDegrees();
    if (sweep > 0) {
        painter.setBrush(foreColor_);
        painter.drawPie(r, -90 * 16, -sweep * 16);
    }

    QRect inner(r.left() + 10, r.top() + 10, r.width() - 20, r.height() - 20);
    if (inner.width() > 0 && inner.height() > 0) {
        painter.setBrush(QColor(0xFF, 0xFF, 0xFF));
        painter.drawPie(inner, 0, 360 * 16);
    }

    if (!caption_.isEmpty()) {
        painter.setPen(textColor_);
        painter.drawText(r, static_cast<int>(alignment()), caption_);
    }
}
