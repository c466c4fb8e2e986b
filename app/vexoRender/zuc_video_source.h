// A picture source of the composition: it owns the scene item that draws
// it (one reference) and knows its picture size.
#pragma once

#include <QObject>
#include <QSize>

#include "vexo/ref_count_interface.h"

class GsItem;

class ZucVideoSource : public QObject, public RefCountInterface {
    Q_OBJECT

public:
    // Makes the item for the current size; replaces the previous one.
    virtual bool CreateItem() = 0;
    virtual void Resize(const QSize& size) = 0;

    // The current item (the source's reference), or null.
    GsItem* item() const { return item_; }
    QSize size() const { return size_; }

protected:
    ZucVideoSource() = default;
    ~ZucVideoSource() override;
    // Takes a reference on item and releases the previous one.
    void SetItem(GsItem* item);

    QSize size_{8, 8};

private:
    GsItem* item_ = nullptr;  // one reference
};
