#include "trevane/dialog_header.h"

#include <QVariant>
#include <QWidget>

#include "window_drag/caption_drag.h"

namespace trevane {
namespace {
constexpr char kDragName[] = "trevane_header_drag";
}  // namespace

HeaderHit HitTestHeader(const QPoint& local, const QSize& size, int headerHeight, const QList<QRect>& buttons) {
    if (!QRect(QPoint(0, 0), size).contains(local)) return HeaderHit::kOutside;
    if (local.y() >= headerHeight) return HeaderHit::kClient;
    for (const QRect& button : buttons) {
        if (button.contains(local)) return HeaderHit::kButton;
    }
    return HeaderHit::kMove;
}

QList<QRect> HeaderButtonRects(const QWidget* dialog) {
    QList<QRect> rects;
    // The list holds bare pointers: a widget deleted since is only compared,
    // never touched, and what is not the dialog's own is left out.
    const QList<QWidget*> own = dialog->findChildren<QWidget*>();
    for (const QVariant& entry : dialog->property("header_btns").toList()) {
        QObject* const object = entry.value<QObject*>();
        for (QWidget* child : own) {
            if (child != object) continue;
            if (child->isVisibleTo(dialog)) rects << QRect(child->mapTo(dialog, QPoint(0, 0)), child->size());
            break;
        }
    }
    return rects;
}

HeaderHit HitTestDialogHeader(const QWidget* dialog, const QPoint& global) {
    return HitTestHeader(dialog->mapFromGlobal(global), dialog->size(), dialog->property("header_height").toInt(),
                         HeaderButtonRects(dialog));
}

void AttachHeaderDrag(QWidget* dialog) {
    if (dialog->findChild<QObject*>(kDragName, Qt::FindDirectChildrenOnly) != nullptr) return;
    auto* drag = new window_drag::CaptionDrag(
        dialog, [dialog](const QPoint& global) { return HitTestDialogHeader(dialog, global) == HeaderHit::kMove; });
    drag->setObjectName(kDragName);
}

}  // namespace trevane
