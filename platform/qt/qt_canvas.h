#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/controls.h"

namespace tempikon::qt {

class QtCanvas;

// Paints a platform::Drawing with QPainter; the canvas's notifications
// leave from its events.
class CanvasWidget : public QWidget {
public:
    explicit CanvasWidget(QWidget* parent) : QWidget(parent) {}
    QtCanvas* owner = nullptr;
    platform::Drawing drawing;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class QtCanvas : public platform::Canvas {
public:
    QtCanvas(QWidget* parent, const platform::TwipsRect& rect);
    ~QtCanvas() override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    int pixelWidth() const override;
    int pixelHeight() const override;
    void draw(platform::Drawing drawing) override;

    QWidget* widget() const { return widget_; }

private:
    QPointer<CanvasWidget> widget_;
    bool enabled_ = true;
};

}  // namespace tempikon::qt
