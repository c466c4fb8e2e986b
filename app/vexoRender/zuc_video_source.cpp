#include "zuc_video_source.h"

#include "vexo/gs_item.h"

ZucVideoSource::~ZucVideoSource() { SetItem(nullptr); }

void ZucVideoSource::SetItem(GsItem* item) {
    if (item != nullptr) item->AddRef();
    GsItem* previous = item_;
    item_ = item;
    if (previous != nullptr) previous->Release();
}
