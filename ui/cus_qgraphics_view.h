// One tile of the acquisition dialog: a graphics view that shows an image scaled into the tile, the
// tile's number in its top-left corner and a green border while it is the selected tile.
#pragma once

#include "imaging/retaker.h"

#include <QtCore/QPointer>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QLabel>

#include <functional>
#include <memory>

class CusQGraphicsView : public QGraphicsView {
    Q_OBJECT

public:
    // `parent` is the dialog's tile area; the number label is created there too, beside the view.
    CusQGraphicsView(const int& index, std::shared_ptr<Retaker> retaker, QWidget* parent);

    void setVisible(bool visible) override;

    // Installed by the dialog when it creates the view: selects this tile unless a retake is waiting
    // and tells whether the click was taken.
    std::function<bool(bool)> clickHandler;
    // The green selection border is shown.
    bool highlighted = false;
    // The tile blinks because its image is being retaken.
    bool flickering = false;
    int index;
    // The template has one tile only: the number label stays hidden.
    bool single = false;
    // Owned by the tile area.
    QPointer<QLabel> label;
    std::shared_ptr<Retaker> retaker;

    void applySelected();
    void applyUnselected();

signals:
    void selectItem(int index);

public slots:
    void onSelected(int i);
    void onUnselected();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};
