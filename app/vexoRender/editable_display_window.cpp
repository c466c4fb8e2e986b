#include "editable_display_window.h"

EditableDisplayWindow::EditableDisplayWindow(QWidget* parent) : DisplayWindow<GsViewImpl>(parent) {}

bool EditableDisplayWindow::AttachRender() {
    if (DisplayWindow<GsViewImpl>::AttachRender()) emit ViewCreated();
    return true;
}

void EditableDisplayWindow::resizeEvent(QResizeEvent* event) {
    DisplayWindow<GsViewImpl>::resizeEvent(event);
    emit ViewResized();
}
