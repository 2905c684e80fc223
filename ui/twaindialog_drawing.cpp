// How the acquisition dialog keeps its tiles and its large preview in step with the shared records:
// the selection handler, the drawing of one image, the drawing of new images and the preview rules.
#include "ui/twaindialog.h"

#include "support/log.h"

#include <QtWidgets/QGraphicsPixmapItem>
#include <QtWidgets/QGraphicsScene>

void twaindialog::onIndexChange(int previous, int selected) {
    writeString2("on_change 1");
    if (selected == -1) {
        writeString2("on_change 2");
        for (const auto& view : views) {
            view->applyUnselected();
        }
        writeString2("on_change 2.1");
        ui.retakeButton->setEnabled(false);
        retakeState = 0;
        writeString2("on_change 2.2");
    } else {
        writeString2("on_change 3");
        if (selected != previous) {
            const std::size_t tiles = tileCount();
            for (std::size_t i = 0; i < views.size() && i < tiles; ++i) {
                if (static_cast<int>(i) != selected) {
                    views[i]->applyUnselected();
                }
            }
        }
        // Re-take is offered only for a tile that holds an image.
        if (retakeState != 2) {
            const bool filled = selected >= 0 && static_cast<std::size_t>(selected) < tileImages().size();
            ui.retakeButton->setEnabled(filled);
            retakeState = filled ? 1 : 0;
        }
    }
    writeString2("on_change 4");
}

void twaindialog::showImage(QGraphicsView* view, const GraphicLayout& layout, std::shared_ptr<Image> image,
                            std::shared_ptr<ConfigFile> config) {
    const int width = view->width();
    const int height = view->height();
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    QGraphicsScene* scene = view->scene();
    if (scene) {
        writeString2("old scene");
        scene->clear();
    } else {
        writeString2("new scene");
        // Owned by the view, so that a scene nobody deleted goes with it.
        scene = new QGraphicsScene(0, 0, width, height, view);
        // Fitted once the view has its scene: before that the view ignores the request.
        view->setScene(scene);
        view->fitInView(scene->sceneRect(), Qt::KeepAspectRatio);
    }

    image->rendered = true;
    if (!image->composite && !layout.vertical && image->upright) {
        image->upright = false;
    }
    // A composite capture shows the tiles as already adjusted: it keeps its own values.
    if (config && !image->composite) {
        image->contrast = config->image_presets.contrast;
        image->brightness = config->image_presets.brightness;
        image->gamma = config->image_presets.gamma;
    }

    const QRectF area = scene->sceneRect();
    scene->addItem(new QGraphicsPixmapItem(optimizedImages.picture(image, area.size().toSize())));
}

void twaindialog::handle_image_change() {
    // Each image is drawn in its own tile with that tile's layout: the layout decides the
    // orientation that is transferred. A composite capture in front belongs to no tile.
    const auto images = tileImages();
    const auto layouts = imageHolder->layouts();
    for (std::size_t i = 0; i < images.size() && i < layouts.size() && i < views.size(); ++i) {
        const auto& image = images[i];
        if (!image || image->rendered) {
            continue;
        }
        writeString2("showing new image");
        writeLog([i](std::ofstream& out) { out << "Clearing new GV Index: " << i << std::endl; });
        showImage(views[i].get(), layouts[i], image, configFile);
    }
}

void twaindialog::updatePreview() {
    const auto selection = indexHandler->current();
    const int selected = selection.selected;
    const int previous = selection.previous;
    const int upperLimit = selection.upperLimit;
    const auto images = tileImages();
    const auto layouts = imageHolder->layouts();
    const int imageCount = static_cast<int>(images.size());
    const int tiles = static_cast<int>(layouts.size());
    QGraphicsView* preview = ui.previewGraphicsView;
    bool drawn = false;

    writeString2("Testing previous image preview");
    const bool advanced =
        (previous != -1 && previous + 1 == selected) || (selected == -1 && upperLimit == previous + 1);
    if (advanced) {
        writeString2("condition 1 met");
        if (previous >= 0 && previous < imageCount) {
            writeString2("condition 2 met");
            const auto& image = images[previous];
            if (image && !image->rendered && previous < tiles) {
                writeString2("condition 3 met");
                previewIndex = static_cast<std::int8_t>(previous);
                previewShown = true;
                previewIsCurrent = false;
                previewValid = true;
                showImage(preview, layouts[previous], image, configFile);
                image->rendered = false;
                drawn = true;
            }
        }
    }

    writeString2("Testing current image preview");
    if (!drawn && selected != -1 && selected < tiles) {
        writeString2("CCCndition 1 met");
        if (selected < imageCount && images[selected]) {
            writeString2("CCCndition 2 met");
            previewIndex = static_cast<std::int8_t>(selected);
            previewShown = true;
            previewIsCurrent = true;
            previewValid = true;
            showImage(preview, layouts[selected], images[selected], configFile);
            images[selected]->rendered = false;
            drawn = true;
        }
    }

    writeString2("Testing preview scene clear");
    if (!drawn) {
        bool clear = true;
        if (previewValid && previewShown) {
            if (previewIsCurrent) {
                clear = selected != previewIndex;
            } else if (previous == previewIndex) {
                clear = previous + 1 != selected && selected != -1;
            } else {
                clear = true;
            }
        }
        if (clear && preview->scene()) {
            writeString2("Clearing preview GV");
            preview->scene()->clear();
            previewValid = false;
            previewShown = false;
        }
        writeString2("Finish preview scene clear");
    }
}
