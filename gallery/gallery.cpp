#include "gallery.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zantrel::gallery {

namespace {

constexpr int32_t kPanelGap = 8;

void HashBytes(uint64_t &hash, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        hash ^= (word >> shift) & 0xFFu;
        hash *= 0x100000001B3ull;
    }
}

}  // namespace

const char kChecksumFileHeader[] =
    "# Gallery pictures: scene, width, height, FNV-1a 64 of the pixels (gallery/gallery.h).\n"
    "# Both flavours must render exactly these. After an intended change of pixels, regenerate with\n"
    "#   bash scripts/update-gallery-checksums.sh\n";

Stage::~Stage() {
    for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) DeleteLayer(*it);
}

void Stage::Record(const char *call) {
    if (std::find(calls_.begin(), calls_.end(), call) == calls_.end()) calls_.emplace_back(call);
}

Layer *Stage::Own(Layer *layer) {
    if (layer != nullptr) layers_.push_back(layer);
    return layer;
}

Layer *Stage::HostLayer(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)> &fill) {
    if (w <= 0 || h <= 0) return nullptr;
    auto buffer = std::make_unique<std::vector<uint32_t>>(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) (*buffer)[static_cast<size_t>(y) * w + x] = fill(x, y);
    }
    Layer *layer = Own(CreateCompatibleLayer(buffer->data(), w, h, w * 4));
    if (layer == nullptr) return nullptr;
    hostPixels_[layer] = buffer->data();
    buffers_.push_back(std::move(buffer));
    return layer;
}

uint32_t *Stage::Pixels(Layer *layer) {
    auto found = hostPixels_.find(layer);
    return found == hostPixels_.end() ? nullptr : found->second;
}

Layer *Stage::NewLayer(int32_t w, int32_t h) { return Own(CreateLayer(w, h, 1)); }

Layer *Stage::Window(Layer *parent, int32_t x, int32_t y, int32_t w, int32_t h) {
    Layer *window = Own(CreateClippedLayer(parent));
    if (window != nullptr) ClipLayerXYWH(window, x, y, w, h);
    return window;
}

bool Stage::Show(const std::string &caption, Layer *root) {
    if (root == nullptr || root->parent != nullptr || root->width <= 0 || root->height <= 0) return false;
    Picture panel;
    panel.width = root->width;
    panel.height = root->height;
    panel.pixels.assign(static_cast<size_t>(panel.width) * static_cast<size_t>(panel.height), 0);
    Layer *copy = CreateCompatibleLayer(panel.pixels.data(), panel.width, panel.height, panel.width * 4);
    if (copy == nullptr) return false;
    CopyLayer(copy, root);
    DeleteLayer(copy);
    panels_.push_back(std::move(panel));
    captions_.push_back(caption);
    return true;
}

Picture Stage::Compose() const {
    Picture picture;
    for (size_t i = 0; i < panels_.size(); ++i) {
        picture.width += panels_[i].width + (i > 0 ? kPanelGap : 0);
        picture.height = std::max(picture.height, panels_[i].height);
    }
    picture.pixels.assign(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height), 0);
    int32_t left = 0;
    for (const Picture &panel : panels_) {
        for (int32_t y = 0; y < panel.height; ++y) {
            std::copy_n(panel.pixels.begin() + static_cast<ptrdiff_t>(y) * panel.width, panel.width,
                        picture.pixels.begin() + static_cast<ptrdiff_t>(y) * picture.width + left);
        }
        left += panel.width + kPanelGap;
    }
    return picture;
}

bool Render(const Scene &scene, Rendered &out, std::string &reason) {
    Stage stage;
    out = Rendered();
    out.scene = &scene;
    if (!scene.render(stage)) {
        reason = std::string("scene ") + scene.name + ": a layer could not be made";
        return false;
    }
    if (stage.Captions().empty()) {
        reason = std::string("scene ") + scene.name + " shows nothing";
        return false;
    }
    out.picture = stage.Compose();
    out.calls = stage.Calls();
    out.captions = stage.Captions();
    return true;
}

uint64_t Checksum(const Picture &picture) {
    uint64_t hash = 0xCBF29CE484222325ull;
    HashBytes(hash, static_cast<uint32_t>(picture.width));
    HashBytes(hash, static_cast<uint32_t>(picture.height));
    for (uint32_t pixel : picture.pixels) HashBytes(hash, pixel);
    return hash;
}

std::string ChecksumLine(const std::string &name, const Picture &picture) {
    char text[64];
    std::snprintf(text, sizeof text, " %" PRId32 " %" PRId32 " %016" PRIx64, picture.width, picture.height,
                  Checksum(picture));
    return name + text;
}

bool ReadChecksums(const std::string &path, std::map<std::string, Expected> &out, std::string &reason) {
    std::ifstream in(path);
    if (!in) {
        reason = "cannot read " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, hex, rest;
        Expected expected;
        if (!(fields >> name >> expected.width >> expected.height >> hex) || (fields >> rest) || hex.size() != 16 ||
            hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
            reason = path + ":" + std::to_string(number) + ": malformed line";
            return false;
        }
        expected.checksum = std::stoull(hex, nullptr, 16);
        out[name] = expected;
    }
    return true;
}

}  // namespace zantrel::gallery
