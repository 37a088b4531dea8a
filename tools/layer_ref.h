// Owning handle for a library layer: each created layer is deleted once.
#pragma once

#include <memory>

#include "ZantrelLayer.h"

namespace zantrel {

struct LayerDeleter {
    void operator()(Layer *layer) const { DeleteLayer(layer); }
};
using LayerRef = std::unique_ptr<Layer, LayerDeleter>;

}  // namespace zantrel
