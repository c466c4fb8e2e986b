#include "preview_window.h"

PreviewWindow::PreviewWindow(QWidget* parent) : EditableDisplayWindow(parent) {}
