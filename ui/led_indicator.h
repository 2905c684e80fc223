// The round connection lamp of the acquisition dialog: green while the sensor is connected, red
// otherwise; the dialog's clock may blink it.
#pragma once

#include <QtGui/QColor>
#include <QtWidgets/QWidget>

class LEDIndicator : public QWidget {
    Q_OBJECT
    // Readable by name, for whoever sees the dialog only through its widgets.
    Q_PROPERTY(bool on READ isOn)

public:
    explicit LEDIndicator(QWidget* parent = nullptr);

    bool isOn() const { return state; }
    // Both repaint at once.
    void setState(bool on);
    void toggle();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool state = false;
    QColor onColor = Qt::green;
    QColor offColor = Qt::red;
    int diameter = 10;
};
