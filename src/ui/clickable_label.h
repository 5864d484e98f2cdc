// A label that reports a click, for the settings link and the step labels bound to it.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace wtk::ui {

class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            emit clicked();
        QLabel::mouseReleaseEvent(event);
    }
};

}  // namespace wtk::ui
