#include "ui/led_indicator.h"

#include <QtGui/QPainter>

LEDIndicator::LEDIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(28, 28);
}

void LEDIndicator::setState(bool on) {
    state = on;
    repaint();
}

void LEDIndicator::toggle() {
    state = !state;
    repaint();
}

void LEDIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setBrush(QBrush(state ? onColor : offColor, Qt::SolidPattern));
    painter.drawEllipse(0, 0, diameter, diameter);
}
