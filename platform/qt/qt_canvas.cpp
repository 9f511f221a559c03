#include "platform/qt/qt_canvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "platform/qt/qt_controls.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_translate.h"

namespace tempikon::qt {

namespace {

QColor Rgb(platform::Colour c) {
    return QColor(static_cast<int>(c & 0xff), static_cast<int>((c >> 8) & 0xff),
                  static_cast<int>((c >> 16) & 0xff));
}

}  // namespace

void CanvasWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Rgb(drawing.background));
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const auto& line : drawing.lines) {
        QPen pen(Rgb(line.colour), line.width, line.dotted ? Qt::DotLine : Qt::SolidLine);
        p.setPen(pen);
        p.drawLine(line.x1, line.y1, line.x2, line.y2);
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    using Shape = platform::Drawing::Shape;
    for (const auto& mark : drawing.marks) {
        const QColor colour = Rgb(mark.colour);
        const double r = mark.size / 2.0;
        const QRectF box(mark.x - r, mark.y - r, mark.size, mark.size);
        p.setPen(QPen(colour, mark.shape == Shape::Cross ? 2 : 1.5));
        p.setBrush(Qt::NoBrush);
        switch (mark.shape) {
            case Shape::Disc:
                p.setBrush(colour);
                p.drawEllipse(box);
                break;
            case Shape::Ring:
                p.setBrush(Rgb(drawing.background));
                p.drawEllipse(box);
                break;
            case Shape::Square:
                p.drawRect(box);
                break;
            case Shape::Triangle: {
                QPainterPath path;
                path.moveTo(mark.x, mark.y - r);
                path.lineTo(mark.x + r, mark.y + r);
                path.lineTo(mark.x - r, mark.y + r);
                path.closeSubpath();
                p.fillPath(path, colour);
                break;
            }
            case Shape::Cross:
                p.drawLine(box.topLeft(), box.bottomRight());
                p.drawLine(box.topRight(), box.bottomLeft());
                break;
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics metrics(font());
    for (const auto& text : drawing.texts) {
        const QString shown = Translated(text.text);
        const int width = metrics.horizontalAdvance(shown);
        int x = text.x;
        if (text.anchor == platform::Drawing::Anchor::Centre) x -= width / 2;
        if (text.anchor == platform::Drawing::Anchor::Right) x -= width;
        p.setPen(Rgb(text.colour));
        p.drawText(x, text.y - metrics.height() / 2 + metrics.ascent(), shown);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        QStylePainter sp(this);
        sp.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (owner) {
        const QPoint at = event->position().toPoint();
        notify(owner->onMouseMove, at.x(), at.y());
    }
}

void CanvasWidget::keyPressEvent(QKeyEvent* event) {
    std::optional<platform::CanvasKey> key;
    switch (event->key()) {
        case Qt::Key_Left:
            key = platform::CanvasKey::Left;
            break;
        case Qt::Key_Right:
            key = platform::CanvasKey::Right;
            break;
        case Qt::Key_Home:
            key = platform::CanvasKey::Home;
            break;
        case Qt::Key_End:
            key = platform::CanvasKey::End;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
    if (owner) notify(owner->onKey, *key);
}

QtCanvas::QtCanvas(QWidget* parent, const platform::TwipsRect& rect)
    : widget_(new CanvasWidget(parent)) {
    widget_->owner = this;
    widget_->setGeometry(toPixels(rect));
    widget_->setFocusPolicy(Qt::StrongFocus);
    widget_->setMouseTracking(true);
    widget_->setAttribute(Qt::WA_OpaquePaintEvent);
}

QtCanvas::~QtCanvas() {
    if (widget_) widget_->owner = nullptr;
}

void QtCanvas::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (widget_) widget_->setEnabled(enabled);
}

int QtCanvas::pixelWidth() const {
    return widget_ ? widget_->width() : 0;
}

int QtCanvas::pixelHeight() const {
    return widget_ ? widget_->height() : 0;
}

void QtCanvas::draw(platform::Drawing drawing) {
    if (!widget_) return;
    widget_->drawing = std::move(drawing);
    widget_->update();
}

}  // namespace tempikon::qt
