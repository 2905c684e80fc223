#include "ui/cus_qgraphics_view.h"

#include "support/log.h"

#include <QtGui/QMoveEvent>
#include <QtWidgets/QLabel>

#include <utility>

namespace {

const QPoint kLabelOffset(7, 2);

void logIndexed(const char* text, int index) {
    writeLog([&](std::ofstream& out) { out << text << index << std::endl; });
}

} // namespace

CusQGraphicsView::CusQGraphicsView(const int& index, std::shared_ptr<Retaker> retaker, QWidget* parent)
    : QGraphicsView(parent), index(index), label(new QLabel(parent)), retaker(std::move(retaker)) {
    label->setText(QString::number(index + 1));
    label->move(pos() + kLabelOffset);
    label->setFixedSize(20, 20);
    QFont font = label->font();
    font.setPointSize(7);
    label->setFont(font);
    label->setStyleSheet("QLabel { background: rgba(0,0,0,0.0); color : white; }");
}

void CusQGraphicsView::setVisible(bool visible) {
    if (label) {
        label->setVisible(visible && !single);
    }
    QGraphicsView::setVisible(visible);
}

void CusQGraphicsView::mousePressEvent(QMouseEvent* event) {
    logIndexed("mousePressEvent 0 - ", index);
    // The dialog installs the handler when it creates the view; a view without one takes no click.
    if (clickHandler) {
        clickHandler(true);
    }
    logIndexed("mousePressEvent 1 - ", index);
    QGraphicsView::mousePressEvent(event);
    logIndexed("mousePressEvent 2 - ", index);
}

void CusQGraphicsView::moveEvent(QMoveEvent* event) {
    if (label) {
        label->move(event->pos() + kLabelOffset);
    }
    QGraphicsView::moveEvent(event);
}

void CusQGraphicsView::resizeEvent(QResizeEvent* event) {
    fitInView(sceneRect(), Qt::IgnoreAspectRatio);
    QGraphicsView::resizeEvent(event);
}

void CusQGraphicsView::onSelected(int) {
    logIndexed("onSelected 1 - ", index);
    applySelected();
    logIndexed("onSelected 2 - ", index);
}

void CusQGraphicsView::onUnselected() {
    applyUnselected();
}

void CusQGraphicsView::applySelected() {
    writeString2("applySelected 0");
    if (highlighted) {
        return;
    }
    highlighted = true;
    writeString2("applySelected 1");
    setStyleSheet("border: 1px solid #97D700;");
    logIndexed("applySelected 2 - ", index);
}

void CusQGraphicsView::applyUnselected() {
    writeString2("applyUnselected 0");
    if (!highlighted) {
        return;
    }
    highlighted = false;
    logIndexed("applyUnselected 1 - ", index);
    setStyleSheet("");
    writeString2("applyUnselected 2");
}
